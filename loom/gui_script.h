#pragma once

// The scripted GUI mode (loom --gui-script FILE), used by the GUI tests: runs workbench commands
// through the dialog's buttons (answering their file requests itself), sends the viewers key and
// mouse events as X events through the same code paths as real input, checks what they show,
// captures each viewer to a BMP and the dialog to a PNG. The run fails (exit status 1) on a failed
// check or capture and on any X error on a viewer connection.
//
// One command per line; blank lines and lines starting with '#' are skipped. VIEWER is "glance"
// or "basemesh".
//   file PATH | file -          answer the next file request with PATH (or cancel it)
//   press LABEL                 click the button whose label's first line is LABEL
//   check converted|manifold on|off
//   select N                    select surface item N (1-based) of the tree
//   select-item LABEL           select the first tree item labelled LABEL
//   key VIEWER NAME...          press and release keys (a letter or digit, space, left, right,
//                               up, down, pageup, pagedown, escape, control, f1, f9)
//   keydown VIEWER NAME / keyup VIEWER NAME
//   drag VIEWER left|middle|right X0 Y0 X1 Y1
//   resize VIEWER W H
//   close VIEWER                ask the window to close, as a window manager does
//   sync VIEWER                 wait until the viewer handled everything sent and painted
//   wait MS                     let MS milliseconds pass (the dialog and viewers keep running)
//   capture VIEWER PATH         write the viewer's picture (BMP)
//   dialog-picture PATH         write the dialog's picture (PNG)
//   expect-title VIEWER TEXT    the window title as the X server holds it
//   expect-title-prefix VIEWER TEXT
//   expect VIEWER FIELD VALUE   frame, rate, level, levels, frames, animate, edges, grid,
//                               selection, areas, surface, width, height, running
//   expect-button LABEL STATE   visible, hidden, enabled or disabled
//   same-view VIEWER VIEWER     both show the same camera and window size
//   exit                        press "Exit"

#include "loom/cloom_dlg.h"
#include "loom/viewer_host.h"

#include <memory>
#include <string>
#include <vector>

namespace loom
{

class GuiScriptT
{
public:
    GuiScriptT(CloomDlg& dialog, DesktopViewersT& viewers);
    ~GuiScriptT();
    GuiScriptT(const GuiScriptT&) = delete;
    GuiScriptT& operator=(const GuiScriptT&) = delete;

    // Reads the script; false (after a message on standard error) when it cannot be read or the
    // display cannot be opened.
    bool load(const std::string& path);
    // Schedules the steps on the GTK main loop (the dialog's run() executes them).
    void start();
    // 0 when every step passed and no X error occurred, else 1.
    int exitStatus() const;

private:
    struct StateT;
    static gboolean stepCallback(gpointer self);
    // Runs one line; returns the milliseconds to wait before the next one.
    int runLine(const std::string& line);
    void fail(const std::string& message);

    CloomDlg& dialog_;
    DesktopViewersT& viewers_;
    std::unique_ptr<StateT> state_;
    std::vector<std::string> lines_;
    size_t next_ = 0;
    bool failed_ = false;
    bool finished_ = false;
};

} // namespace loom
