#pragma once

// CloomDlg, the workbench dialog "OBJ sequence viewer": the surface tree, a button per command,
// the "converted" and "manifold" check boxes and the help text of the viewer keys. Each button
// asks for a file name where its command needs one and runs the command of WorkbenchT; the
// dialog only supplies the selection, the check boxes and the file names. GTK, main thread only.

#include "loom/viewer_host.h"
#include "loom/workbench.h"

#include <gtk/gtk.h>

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace loom
{

// The help text of the viewer keys shown in the dialog.
extern const char* const kViewerHelpText;

// A file-name request of a command: open or save, and its filter as description|pattern pairs.
struct FileRequestT
{
    bool save = false;
    std::string title;
    std::string filter;
};

// File-name filters of the commands.
extern const char* const kOpenMd3Filter;
extern const char* const kSaveMd3Filter;
extern const char* const kObjFilter;

// Turns a filter "desc|pattern|desc|pattern||" into (description, pattern) pairs.
std::vector<std::pair<std::string, std::string>> parseFilter(const std::string& filter);

class CloomDlg
{
public:
    // Answers a file request: the chosen name, or nothing when cancelled.
    using FileAskT = std::function<std::optional<std::string>(const FileRequestT&)>;

    // Builds the dialog (not shown yet); main thread after gtk_init.
    CloomDlg(WorkbenchT& workbench, DesktopViewersT& viewers);
    ~CloomDlg();
    CloomDlg(const CloomDlg&) = delete;
    CloomDlg& operator=(const CloomDlg&) = delete;

    // Shows the dialog and runs it until "Exit" or until the dialog is closed (the window's
    // close button answers with a response too).
    void run();
    // Ends run() as "Exit" does.
    void end();

    // Replaces the native file dialogs (the scripted mode answers them itself).
    void setFileAsk(FileAskT ask) { fileAsk_ = std::move(ask); }

    GtkWidget* dialog() { return dialog_; }
    WorkbenchT& workbench() { return workbench_; }
    // The button whose label's first line is `label` (also "Exit"); null when none.
    GtkWidget* button(const std::string& label);
    GtkWidget* convertedBox() { return convertedBox_; }
    GtkWidget* manifoldBox() { return manifoldBox_; }
    // Selects tree item `item` of the workbench's tree (-1 clears the selection).
    void selectTreeItem(int item);

    // The command handlers, bound to the buttons.
    void OnBnClickedButtonOpenMd3();
    void OnBnClickedButtonLoadSequence();
    void OnBnClickedButtonLoadObj();
    void OnBnClickedButtonView();
    void OnBnClickedButtonConvert();
    void OnBnClickedButtonSubdivide();
    void OnBnClickedButtonLoop();
    void OnBnClickedButtonMakeManifold();
    void OnBnClickedButtonSaveObj();
    void OnBnClickedButtonSaveSequence();
    void OnBnClickedButtonSaveMd3();
    void OnBnClickedButtonSaveLoop();

private:
    GtkWidget* addButton(GtkWidget* grid, const char* label, int column, int row,
                         void (CloomDlg::*handler)(), int width = 1);
    std::optional<std::string> askFile(const FileRequestT& request);
    std::optional<std::string> nativeFileDialog(const FileRequestT& request);
    // Refills the tree when the workbench's model changed, then updates the controls.
    void afterCommand();
    void refillTree();
    void updateControls();
    // The selected item's surface entry, without the "not a surface" message.
    SurfaceEntryT* quietSelection() const;
    static void onSelectionChanged(GtkTreeSelection* selection, gpointer self);
    static void onToggled(GtkToggleButton* box, gpointer self);

    WorkbenchT& workbench_;
    DesktopViewersT& viewers_;
    FileAskT fileAsk_;
    GtkWidget* dialog_ = nullptr;
    GtkWidget* tree_ = nullptr;
    GtkTreeStore* store_ = nullptr;
    GtkWidget* convertedBox_ = nullptr;
    GtkWidget* manifoldBox_ = nullptr;
    std::map<std::string, GtkWidget*> buttons_;
    const Md3ModelT* shownModel_ = nullptr;
    bool filling_ = false;
};

} // namespace loom
