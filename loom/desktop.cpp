// Start-up and shutdown of the desktop program: Xlib threads first, then GTK, the console window,
// the dialog and its viewers. At the end both viewer threads are joined before the workbench and
// its model are freed, so that no viewer draws a surface or mesh that is going away.

#include "loom/desktop.h"

#include "loom/cloom_dlg.h"
#include "loom/console.h"
#include "loom/console_window.h"
#include "loom/gui_script.h"
#include "loom/viewer_host.h"
#include "loom/viewer_window.h"
#include "loom/workbench.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace loom
{

int runDesktop(int argc, char** argv)
{
    std::string script;
    if (argc >= 2 && std::strcmp(argv[1], "--gui-script") == 0)
    {
        if (argc != 3)
        {
            std::fprintf(stderr, "usage: loom --gui-script FILE\n");
            return 2;
        }
        script = argv[2];
    }
    else if (argc > 1)
    {
        std::fprintf(stderr, "loom: the desktop program takes no arguments\n");
        return 2;
    }
    // Viewer threads use Xlib on connections of their own: Xlib must know before any call.
    if (!initViewerThreads())
    {
        std::fprintf(stderr, "loom: Xlib cannot be used from several threads\n");
        return 1;
    }
    keepFreedMemoryForPaints();
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(nullptr, nullptr))
    {
        std::fprintf(stderr, "loom: cannot open the display\n");
        return 1;
    }
    installViewerErrorHandler();

    int status = 0;
    {
        DesktopViewersT viewers;
        auto workbench = std::make_unique<WorkbenchT>(&viewers);
        ConsoleWindowT console;
        auto dialog = std::make_unique<CloomDlg>(*workbench, viewers);
        console.open(40, 360);
        gtk_window_move(GTK_WINDOW(dialog->dialog()), 40, 40);

        std::unique_ptr<GuiScriptT> runner;
        if (!script.empty())
        {
            runner = std::make_unique<GuiScriptT>(*dialog, viewers);
            if (!runner->load(script))
            {
                return 1;
            }
            runner->start();
        }
        dialog->run();

        // The viewers may still draw data of the model: end them first.
        viewers.closeAll();
        if (runner)
        {
            status = runner->exitStatus();
            runner.reset();
        }
        dialog.reset();
        workbench.reset();
    }
    while (gtk_events_pending())
    {
        gtk_main_iteration();
    }
    return status;
}

} // namespace loom
