// The scripted GUI mode: one script line per turn of the GTK main loop, so that the dialog, its
// console window and the viewer threads all keep running between the steps. Input reaches the
// viewers as X events sent on a connection of the script's own, exactly as the X server would
// deliver real key presses and mouse drags.

#include "loom/gui_script.h"

#include "loom/console.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <cairo.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <thread>

namespace loom
{

namespace
{

// Longest wait for a viewer to answer, in seconds; generous for sanitizer builds.
constexpr double kViewerTimeout = 20;

KeySym keySym(const std::string& name)
{
    static const std::map<std::string, KeySym> named = {
        {"space", XK_space},
        {"left", XK_Left},
        {"right", XK_Right},
        {"up", XK_Up},
        {"down", XK_Down},
        {"pageup", XK_Page_Up},
        {"pagedown", XK_Page_Down},
        {"escape", XK_Escape},
        {"control", XK_Control_L},
        {"f1", XK_F1},
        {"f9", XK_F9},
    };
    auto found = named.find(name);
    if (found != named.end())
    {
        return found->second;
    }
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
    {
        return KeySym(std::tolower(static_cast<unsigned char>(name[0])));
    }
    return NoSymbol;
}

std::vector<std::string> words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> out;
    std::string w;
    while (in >> w)
    {
        out.push_back(w);
    }
    return out;
}

// The text after the first `count` words of the line.
std::string rest(const std::string& line, int count)
{
    size_t at = 0;
    for (int i = 0; i < count; ++i)
    {
        at = line.find_first_not_of(" \t", at);
        at = line.find_first_of(" \t", at);
        if (at == std::string::npos)
        {
            return "";
        }
    }
    at = line.find_first_not_of(" \t", at);
    return at == std::string::npos ? "" : line.substr(at);
}

bool sameCamera(const CameraT& a, const CameraT& b)
{
    auto near = [](double x, double y) { return std::abs(x - y) <= 1e-9 * (1 + std::abs(x)); };
    for (int i = 0; i < 3; ++i)
    {
        if (!near(a.translation[i], b.translation[i]) || !near(a.centre[i], b.centre[i]))
        {
            return false;
        }
    }
    const QuatT &p = a.ball.current, &q = b.ball.current;
    return near(p.x, q.x) && near(p.y, q.y) && near(p.z, q.z) && near(p.w, q.w) &&
           near(a.nearPlane, b.nearPlane) && near(a.farPlane, b.farPlane) && near(a.fovy, b.fovy) &&
           near(a.aspect, b.aspect) && a.width == b.width && a.height == b.height;
}

} // namespace

struct GuiScriptT::StateT
{
    Display* display = nullptr;
    bool filePending = false;
    std::string file;
    int lineNumber = 0;
};

GuiScriptT::GuiScriptT(CloomDlg& dialog, DesktopViewersT& viewers)
    : dialog_(dialog)
    , viewers_(viewers)
    , state_(std::make_unique<StateT>())
{
    dialog_.setFileAsk(
        [this](const FileRequestT& request) -> std::optional<std::string>
        {
            if (!state_->filePending)
            {
                fail("file request \"" + request.title + "\" without a file line");
                return std::nullopt;
            }
            state_->filePending = false;
            if (state_->file == "-")
            {
                return std::nullopt;
            }
            return state_->file;
        });
}

GuiScriptT::~GuiScriptT()
{
    dialog_.setFileAsk({});
    if (state_->display)
    {
        XCloseDisplay(state_->display);
    }
}

bool GuiScriptT::load(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
    {
        std::fprintf(stderr, "loom: cannot read the GUI script %s\n", path.c_str());
        return false;
    }
    std::string line;
    while (std::getline(in, line))
    {
        lines_.push_back(line);
    }
    state_->display = XOpenDisplay(nullptr);
    if (!state_->display)
    {
        std::fprintf(stderr, "loom: the GUI script cannot open the display\n");
        return false;
    }
    return true;
}

void GuiScriptT::start()
{
    g_timeout_add(0, stepCallback, this);
}

int GuiScriptT::exitStatus() const
{
    if (viewerXErrorCount() > 0)
    {
        std::fprintf(stderr, "loom: %d X errors on viewer windows\n", viewerXErrorCount());
        return 1;
    }
    return failed_ || !finished_ ? 1 : 0;
}

void GuiScriptT::fail(const std::string& message)
{
    std::fprintf(stderr, "loom: script line %d: %s\n", state_->lineNumber, message.c_str());
    std::fflush(stderr);
    failed_ = true;
}

gboolean GuiScriptT::stepCallback(gpointer self)
{
    auto* script = static_cast<GuiScriptT*>(self);
    while (script->next_ < script->lines_.size() && !script->failed_ && !script->finished_)
    {
        const std::string& line = script->lines_[script->next_++];
        script->state_->lineNumber = int(script->next_);
        int delay = script->runLine(line);
        if (delay > 0)
        {
            g_timeout_add(guint(delay), stepCallback, self);
            return G_SOURCE_REMOVE;
        }
        if (delay < 0)
        {
            // Give the main loop a turn (e.g. for the tree or a new window) before going on.
            g_timeout_add(1, stepCallback, self);
            return G_SOURCE_REMOVE;
        }
    }
    if (script->next_ >= script->lines_.size() && !script->failed_)
    {
        script->finished_ = true;
    }
    script->dialog_.end();
    return G_SOURCE_REMOVE;
}

int GuiScriptT::runLine(const std::string& line)
{
    std::vector<std::string> w = words(line);
    if (w.empty() || w[0][0] == '#')
    {
        return 0;
    }
    Display* d = state_->display;
    const std::string& command = w[0];

    // Viewer commands name the viewer second.
    ViewerWindowT* window = nullptr;
    GlAreaT* area = nullptr;
    if (w.size() > 1 && (w[1] == "glance" || w[1] == "basemesh"))
    {
        bool glance = w[1] == "glance";
        window = glance ? viewers_.surfaceWindow() : viewers_.meshWindow();
        area = glance ? static_cast<GlAreaT*>(&viewers_.surfaceArea())
                      : static_cast<GlAreaT*>(&viewers_.meshArea());
    }
    auto needWindow = [&]() -> bool
    {
        if (!window || !window->waitUntilRunning(kViewerTimeout) || window->xWindow() == 0)
        {
            fail("the viewer " + (w.size() > 1 ? w[1] : std::string()) + " has no window");
            return false;
        }
        return true;
    };

    if (command == "file" && w.size() >= 2)
    {
        state_->filePending = true;
        state_->file = rest(line, 1);
        return 0;
    }
    if (command == "press" && w.size() >= 2)
    {
        std::string label = rest(line, 1);
        GtkWidget* b = dialog_.button(label);
        if (!b || !gtk_widget_get_visible(b) || !gtk_widget_is_sensitive(b))
        {
            fail("no visible, enabled button \"" + label + "\"");
            return 0;
        }
        gtk_button_clicked(GTK_BUTTON(b));
        if (state_->filePending)
        {
            fail("the file line was not used by \"" + label + "\"");
        }
        return -1;
    }
    if (command == "check" && w.size() == 3)
    {
        GtkWidget* box = w[1] == "converted"  ? dialog_.convertedBox()
                         : w[1] == "manifold" ? dialog_.manifoldBox()
                                              : nullptr;
        if (!box)
        {
            fail("no check box " + w[1]);
            return 0;
        }
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(box), w[2] == "on");
        return 0;
    }
    if ((command == "select" && w.size() == 2) || (command == "select-item" && w.size() >= 2))
    {
        const std::vector<TreeItemT>& items = dialog_.workbench().tree();
        int wanted = command == "select" ? std::atoi(w[1].c_str()) : 0;
        std::string label = rest(line, 1);
        int surfaces = 0;
        for (size_t i = 0; i < items.size(); ++i)
        {
            int parent = items[i].parent;
            bool surface =
                parent >= 0 && size_t(parent) < items.size() && items[size_t(parent)].value == 1;
            if ((command == "select" && surface && ++surfaces == wanted) ||
                (command == "select-item" && items[i].label == label))
            {
                dialog_.selectTreeItem(int(i));
                return 0;
            }
        }
        fail("no tree item " + rest(line, 1));
        return 0;
    }
    if ((command == "key" || command == "keydown" || command == "keyup") && w.size() >= 3 && window)
    {
        if (!needWindow())
        {
            return 0;
        }
        Window target = window->xWindow();
        for (size_t i = 2; i < w.size(); ++i)
        {
            KeySym sym = keySym(w[i]);
            KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(d, sym);
            if (code == 0)
            {
                fail("unknown key " + w[i]);
                return 0;
            }
            for (bool press : {true, false})
            {
                if ((command == "keydown" && !press) || (command == "keyup" && press))
                {
                    continue;
                }
                XEvent event{};
                event.xkey.type = press ? KeyPress : KeyRelease;
                event.xkey.display = d;
                event.xkey.window = target;
                event.xkey.root = DefaultRootWindow(d);
                event.xkey.time = CurrentTime;
                event.xkey.x = event.xkey.y = 1;
                event.xkey.same_screen = True;
                event.xkey.keycode = code;
                XSendEvent(d, target, True, press ? KeyPressMask : KeyReleaseMask, &event);
            }
        }
        XSync(d, False);
        return 0;
    }
    if (command == "drag" && w.size() == 7 && window)
    {
        if (!needWindow())
        {
            return 0;
        }
        Window target = window->xWindow();
        unsigned button = w[2] == "left" ? 1 : w[2] == "middle" ? 2 : w[2] == "right" ? 3 : 0;
        if (button == 0)
        {
            fail("unknown button " + w[2]);
            return 0;
        }
        int x0 = std::atoi(w[3].c_str()), y0 = std::atoi(w[4].c_str());
        int x1 = std::atoi(w[5].c_str()), y1 = std::atoi(w[6].c_str());
        unsigned mask = button == 1 ? Button1Mask : button == 2 ? Button2Mask : Button3Mask;
        auto send = [&](int type, int x, int y, unsigned state, long eventMask)
        {
            XEvent event{};
            event.xbutton.type = type;
            event.xbutton.display = d;
            event.xbutton.window = target;
            event.xbutton.root = DefaultRootWindow(d);
            event.xbutton.time = CurrentTime;
            event.xbutton.x = x;
            event.xbutton.y = y;
            event.xbutton.same_screen = True;
            event.xbutton.state = state;
            if (type == MotionNotify)
            {
                event.xmotion.is_hint = NotifyNormal;
            }
            else
            {
                event.xbutton.button = button;
            }
            XSendEvent(d, target, True, eventMask, &event);
        };
        send(ButtonPress, x0, y0, 0, ButtonPressMask);
        const int steps = 4;
        for (int i = 1; i <= steps; ++i)
        {
            send(MotionNotify, x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps, mask,
                 PointerMotionMask);
            XSync(d, False);
            // Each position is its own motion event: the viewer folds only queued bursts.
            window->sync(kViewerTimeout);
        }
        send(ButtonRelease, x1, y1, mask, ButtonReleaseMask);
        XSync(d, False);
        return 0;
    }
    if (command == "resize" && w.size() == 4 && window)
    {
        if (needWindow())
        {
            XResizeWindow(d, window->xWindow(), unsigned(std::atoi(w[2].c_str())),
                          unsigned(std::atoi(w[3].c_str())));
            XSync(d, False);
        }
        return 0;
    }
    if (command == "close" && w.size() == 2 && window)
    {
        if (!needWindow())
        {
            return 0;
        }
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window->xWindow();
        event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, window->xWindow(), False, NoEventMask, &event);
        XSync(d, False);
        auto until =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(kViewerTimeout);
        while (!window->ended() && std::chrono::steady_clock::now() < until)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!window->ended())
        {
            fail("the viewer did not end after its window was closed");
        }
        return 0;
    }
    if (command == "sync" && w.size() == 2 && window)
    {
        if (!window->sync(kViewerTimeout))
        {
            fail("the viewer " + w[1] + " did not answer");
        }
        return 0;
    }
    if (command == "wait" && w.size() == 2)
    {
        return std::max(1, std::atoi(w[1].c_str()));
    }
    if (command == "capture" && w.size() >= 3 && window)
    {
        if (!needWindow())
        {
            return 0;
        }
        auto done = std::make_shared<std::promise<bool>>();
        std::future<bool> result = done->get_future();
        {
            std::lock_guard lock(area->mutex());
            area->requestCapture(rest(line, 2), [done](bool ok) { done->set_value(ok); });
        }
        if (result.wait_for(std::chrono::duration<double>(kViewerTimeout)) !=
                std::future_status::ready ||
            !result.get())
        {
            fail("capture of " + w[1] + " failed");
        }
        return 0;
    }
    if (command == "dialog-picture" && w.size() >= 2)
    {
        while (gtk_events_pending())
        {
            gtk_main_iteration();
        }
        GtkWidget* widget = dialog_.dialog();
        int width = gtk_widget_get_allocated_width(widget);
        int height = gtk_widget_get_allocated_height(widget);
        if (width <= 0 || height <= 0)
        {
            fail("the dialog has no size");
            return 0;
        }
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        cairo_t* cr = cairo_create(surface);
        gtk_widget_draw(widget, cr);
        cairo_destroy(cr);
        std::string path = rest(line, 1);
        std::string temporary = path + ".part";
        bool ok = cairo_surface_write_to_png(surface, temporary.c_str()) == CAIRO_STATUS_SUCCESS &&
                  std::rename(temporary.c_str(), path.c_str()) == 0;
        cairo_surface_destroy(surface);
        if (!ok)
        {
            std::remove(temporary.c_str());
            fail("cannot write the dialog picture " + path);
        }
        return 0;
    }
    if ((command == "expect-title" || command == "expect-title-prefix") && w.size() >= 3 && window)
    {
        if (!needWindow())
        {
            return 0;
        }
        char* name = nullptr;
        std::string title;
        if (XFetchName(d, window->xWindow(), &name) && name)
        {
            title = name;
            XFree(name);
        }
        std::string want = rest(line, 2);
        bool ok = command == "expect-title" ? title == want : title.rfind(want, 0) == 0;
        if (!ok)
        {
            fail("title of " + w[1] + " is \"" + title + "\", expected \"" + want + "\"");
        }
        return 0;
    }
    if (command == "expect" && w.size() == 4 && area)
    {
        long long have = 0;
        const std::string& field = w[2];
        if (field == "running")
        {
            have = window && window->running();
        }
        else if (!window)
        {
            fail("the viewer " + w[1] + " has no window");
            return 0;
        }
        else if (field == "animate")
        {
            have = window->animate();
        }
        else
        {
            std::lock_guard lock(area->mutex());
            auto* md = dynamic_cast<MdAreaT*>(area);
            auto* bm = dynamic_cast<BmAreaT*>(area);
            if (field == "width" || field == "height")
            {
                have = field == "width" ? area->camera().width : area->camera().height;
            }
            else if (md && field == "frame")
            {
                have = md->frame();
            }
            else if (md && field == "rate")
            {
                have = md->rate();
            }
            else if (md && field == "frames")
            {
                have = md->frameCount();
            }
            else if (md && field == "edges")
            {
                have = md->edgeOverlay();
            }
            else if (bm && field == "frame")
            {
                have = bm->frame();
            }
            else if (bm && field == "level")
            {
                have = bm->level();
            }
            else if (bm && field == "levels")
            {
                have = bm->mesh() ? bm->mesh()->levelCount() : 0;
            }
            else if (bm && field == "frames")
            {
                have = bm->mesh() ? bm->mesh()->frameCount() : 0;
            }
            else if (bm && field == "grid")
            {
                have = bm->patchGrid();
            }
            else if (bm && field == "edges")
            {
                have = bm->meshEdges();
            }
            else if (bm && field == "selection")
            {
                have = bm->selection();
            }
            else if (bm && field == "areas")
            {
                have = bm->areas();
            }
            else if (bm && field == "surface")
            {
                have = bm->surfaceShown();
            }
            else
            {
                fail("unknown field " + field);
                return 0;
            }
        }
        long long want = std::atoll(w[3].c_str());
        if (have != want)
        {
            fail(w[1] + " " + field + " is " + std::to_string(have) + ", expected " + w[3]);
        }
        return 0;
    }
    if (command == "expect-button" && w.size() >= 3)
    {
        std::string state = w.back();
        std::string label = rest(line, 1);
        label = label.substr(0, label.size() - state.size());
        while (!label.empty() && (label.back() == ' ' || label.back() == '\t'))
        {
            label.pop_back();
        }
        GtkWidget* b = dialog_.button(label);
        bool have = b && (state == "visible"    ? gtk_widget_get_visible(b)
                          : state == "hidden"   ? !gtk_widget_get_visible(b)
                          : state == "enabled"  ? gtk_widget_is_sensitive(b)
                          : state == "disabled" ? !gtk_widget_is_sensitive(b)
                                                : false);
        if (!have)
        {
            fail("button \"" + label + "\" is not " + state);
        }
        return 0;
    }
    if (command == "same-view" && w.size() == 3)
    {
        auto pick = [&](const std::string& name, GlAreaT*& a, ViewerWindowT*& win)
        {
            bool glance = name == "glance";
            win = glance ? viewers_.surfaceWindow() : viewers_.meshWindow();
            a = glance ? static_cast<GlAreaT*>(&viewers_.surfaceArea())
                       : static_cast<GlAreaT*>(&viewers_.meshArea());
        };
        GlAreaT *a1, *a2;
        ViewerWindowT *w1, *w2;
        pick(w[1], a1, w1);
        pick(w[2], a2, w2);
        CameraT c1, c2;
        {
            std::lock_guard lock(a1->mutex());
            c1 = a1->camera();
        }
        {
            std::lock_guard lock(a2->mutex());
            c2 = a2->camera();
        }
        unsigned g1[2] = {0, 0}, g2[2] = {1, 1};
        auto geometry = [&](ViewerWindowT* win, unsigned* g)
        {
            Window root;
            int x, y;
            unsigned border, depth;
            if (win && win->xWindow())
            {
                XGetGeometry(d, win->xWindow(), &root, &x, &y, &g[0], &g[1], &border, &depth);
            }
        };
        geometry(w1, g1);
        geometry(w2, g2);
        if (!sameCamera(c1, c2))
        {
            fail(w[1] + " and " + w[2] + " show different views");
        }
        if (g1[0] != g2[0] || g1[1] != g2[1])
        {
            fail(w[1] + " and " + w[2] + " have different window sizes");
        }
        return 0;
    }
    if (command == "exit" && w.size() == 1)
    {
        finished_ = true;
        gtk_button_clicked(GTK_BUTTON(dialog_.button("Exit")));
        return 0;
    }
    fail("cannot run \"" + line + "\"");
    return 0;
}

} // namespace loom
