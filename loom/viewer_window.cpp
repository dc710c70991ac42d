// Viewer windows on their own threads: each thread opens its own Xlib connection, creates a
// window with a GLX visual and context, and runs the message loop that hands events to its
// drawing area. Contexts are created under one process-wide mutex because the software renderer
// is not safe creating two at once. Other threads reach a viewer only through client messages
// on its connection.

#include "loom/viewer_window.h"

#include "loom/console.h"

#include <GL/glx.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdio>
#include <map>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace loom
{

namespace
{

// Kinds of the client messages that other threads send to a viewer loop.
enum WakeKindT : long
{
    kWakePaint = 1,
    kWakeClose = 2,
    kWakeSync = 3,
};

std::mutex& glxMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The viewer connections, so that the error handler tells them from the toolkit's own.
std::mutex& registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Errors reported per viewer connection.
std::map<Display*, int>& viewerDisplays()
{
    static std::map<Display*, int> displays;
    return displays;
}

std::atomic<int> xErrors{0};
XErrorHandler previousHandler = nullptr;

int viewerErrorHandler(Display* display, XErrorEvent* error)
{
    {
        std::lock_guard lock(registryMutex());
        auto found = viewerDisplays().find(display);
        if (found == viewerDisplays().end())
        {
            return previousHandler ? previousHandler(display, error) : 0;
        }
        ++found->second;
    }
    ++xErrors;
    // Only the codes: asking Xlib for the error text here could lock the display again.
    ConsoleT() << "X error " << int(error->error_code) << " (request " << int(error->request_code)
               << ") on a viewer window";
    return 0;
}

void registerDisplay(Display* display, bool add)
{
    std::lock_guard lock(registryMutex());
    if (add)
    {
        viewerDisplays()[display] = 0;
    }
    else
    {
        viewerDisplays().erase(display);
    }
}

int mapKey(KeySym sym)
{
    if (sym >= XK_a && sym <= XK_z)
    {
        return int('A' + (sym - XK_a));
    }
    if ((sym >= XK_A && sym <= XK_Z) || (sym >= XK_0 && sym <= XK_9))
    {
        return int(sym);
    }
    switch (sym)
    {
    case XK_space:
        return kKeySpace;
    case XK_Left:
        return kKeyLeft;
    case XK_Right:
        return kKeyRight;
    case XK_Up:
        return kKeyUp;
    case XK_Down:
        return kKeyDown;
    case XK_Page_Up:
        return kKeyPageUp;
    case XK_Page_Down:
        return kKeyPageDown;
    case XK_Escape:
        return kKeyEscape;
    case XK_Control_L:
    case XK_Control_R:
        return kKeyControl;
    case XK_F1:
        return kKeyF1;
    case XK_F9:
        return kKeyF9;
    default:
        return kKeyOther;
    }
}

int errorsOn(Display* display)
{
    std::lock_guard lock(registryMutex());
    auto found = viewerDisplays().find(display);
    return found == viewerDisplays().end() ? 0 : found->second;
}

} // namespace

bool initViewerThreads()
{
    return XInitThreads() != 0;
}

void keepFreedMemoryForPaints()
{
#ifdef __GLIBC__
    // Freed memory at the top of a heap stays mapped up to 256 MiB, and blocks up to 32 MiB (the
    // allocator's own upper bound when it adapts) come from the heaps, where they are reused,
    // instead of mappings of their own that are unmapped again at every free.
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
}

void installViewerErrorHandler()
{
    XErrorHandler previous = XSetErrorHandler(viewerErrorHandler);
    if (previous != viewerErrorHandler)
    {
        previousHandler = previous;
    }
}

int viewerXErrorCount()
{
    return xErrors.load();
}

std::string windowClassName(unsigned long long id)
{
    static const char digits[] = "0123456789ABCDEFG";
    std::string name(8, '0');
    for (int i = 0; i < 8; ++i)
    {
        name[i] = digits[id & 0xf];
        id >>= 4;
    }
    return name + ".qz.gfxwindowclass";
}

struct ViewerWindowT::XStateT
{
    Display* display = nullptr;
    Window window = 0;
    Colormap colormap = 0;
    GLXContext context = nullptr;
    XVisualInfo* visual = nullptr;
    Atom wmDelete = 0;
    Atom wake = 0;
    long long pendingSync = 0;
};

ViewerWindowT::ViewerWindowT(GlAreaT& area)
    : area_(area)
{
    className_ = windowClassName(reinterpret_cast<uintptr_t>(this));
}

ViewerWindowT::~ViewerWindowT()
{
    if (thread_.joinable())
    {
        destroyWindow();
    }
}

bool ViewerWindowT::createWindow(const std::string& title, int width, int height, int x, int y)
{
    title_ = title;
    width_ = width;
    height_ = height;
    x_ = x;
    y_ = y;
    {
        std::lock_guard lock(area_.mutex());
        area_.attach(this);
    }
    try
    {
        thread_ = std::thread([this] { threadMain(); });
    }
    catch (...)
    {
        consoleLine("could not create thread ");
        std::lock_guard lock(area_.mutex());
        area_.attach(nullptr);
        ended_ = true;
        return false;
    }
    return true;
}

void ViewerWindowT::threadMain()
{
    loopThread_ = std::this_thread::get_id();
    if (setUp())
    {
        started_ = true;
        stateChanged_.notify_all();
        runLoop();
    }
    tearDown();
    {
        std::lock_guard lock(area_.mutex());
        area_.attach(nullptr);
    }
    {
        std::lock_guard lock(stateMutex_);
        ended_ = true;
    }
    stateChanged_.notify_all();
}

bool ViewerWindowT::setUp()
{
    x_state_ = std::make_unique<XStateT>();
    XStateT& xs = *x_state_;
    xs.display = XOpenDisplay(nullptr);
    if (!xs.display)
    {
        consoleLine("Unable to get a DC.");
        consoleLine("Unable to init a context.");
        return false;
    }
    registerDisplay(xs.display, true);
    int screen = DefaultScreen(xs.display);
    int attributes[] = {
        GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8,   GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE,
        8,        GLX_DEPTH_SIZE,   24,           None};
    xs.visual = glXChooseVisual(xs.display, screen, attributes);
    if (!xs.visual)
    {
        consoleLine("ChoosePixelFormat failed");
        consoleLine("setup pixel format failed");
        consoleLine("Unable to init a context.");
        return false;
    }
    if (xs.visual->c_class != TrueColor && xs.visual->c_class != DirectColor)
    {
        consoleLine("need palette");
    }
    Window root = RootWindow(xs.display, screen);
    xs.colormap = XCreateColormap(xs.display, root, xs.visual->visual, AllocNone);
    XSetWindowAttributes wa{};
    wa.colormap = xs.colormap;
    wa.background_pixmap = None;
    wa.border_pixel = 0;
    wa.event_mask = ExposureMask | StructureNotifyMask | KeyPressMask | KeyReleaseMask |
                    ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
    xs.window = XCreateWindow(xs.display, root, x_, y_, unsigned(width_), unsigned(height_), 0,
                              xs.visual->depth, InputOutput, xs.visual->visual,
                              CWColormap | CWBorderPixel | CWBackPixmap | CWEventMask, &wa);
    XSync(xs.display, False);
    if (!xs.window || errorsOn(xs.display) > 0)
    {
        consoleLine("SetPixelFormat failed");
        consoleLine("setup pixel format failed");
        consoleLine("Unable to init a context.");
        return false;
    }
    xWindow_ = xs.window;

    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = x_;
    hints.y = y_;
    hints.width = width_;
    hints.height = height_;
    XSetWMNormalHints(xs.display, xs.window, &hints);
    XClassHint classHint;
    std::string instance = "loom";
    classHint.res_name = instance.data();
    classHint.res_class = className_.data();
    XSetClassHint(xs.display, xs.window, &classHint);
    XStoreName(xs.display, xs.window, title_.c_str());
    {
        std::lock_guard lock(stateMutex_);
        shownTitle_ = title_;
    }
    xs.wmDelete = XInternAtom(xs.display, "WM_DELETE_WINDOW", False);
    xs.wake = XInternAtom(xs.display, "LOOM_VIEWER_WAKE", False);
    XSetWMProtocols(xs.display, xs.window, &xs.wmDelete, 1);
    {
        // From here other threads may send client messages to the window.
        std::lock_guard lock(stateMutex_);
        connectionOpen_ = true;
    }
    // A held key then sends one release at the end instead of a release per repeat.
    XkbSetDetectableAutoRepeat(xs.display, True, nullptr);

    {
        std::lock_guard lock(glxMutex());
        xs.context = glXCreateContext(xs.display, xs.visual, nullptr, True);
        if (!xs.context)
        {
            consoleLine("wglCreateContext failed");
            consoleLine("Unable to init a context.");
            return false;
        }
        if (!glXMakeCurrent(xs.display, xs.window, xs.context))
        {
            consoleLine("wglMakeCurrent failed first during initialization");
            consoleLine("Unable to init a context.");
            return false;
        }
    }
    XMapWindow(xs.display, xs.window);
    XFlush(xs.display);
    {
        std::lock_guard lock(area_.mutex());
        area_.initView();
        area_.onSize(width_, height_);
    }
    paintPending_ = true;
    return true;
}

void ViewerWindowT::tearDown()
{
    if (!x_state_)
    {
        return;
    }
    XStateT& xs = *x_state_;
    {
        // No new senders; the ones under way finish before the connection closes.
        std::unique_lock lock(stateMutex_);
        connectionOpen_ = false;
        stateChanged_.wait(lock, [this] { return senders_ == 0; });
    }
    {
        std::lock_guard lock(area_.mutex());
        area_.glReleased();
    }
    if (xs.context)
    {
        std::lock_guard lock(glxMutex());
        if (!glXMakeCurrent(xs.display, None, nullptr))
        {
            consoleLine("wglMakeCurrent failed");
        }
        glXDestroyContext(xs.display, xs.context);
        xs.context = nullptr;
    }
    if (xs.window)
    {
        consoleLine("destroying window with parent 0");
        XUngrabPointer(xs.display, CurrentTime);
        XDestroyWindow(xs.display, xs.window);
        XSync(xs.display, False);
        xs.window = 0;
        xWindow_ = 0;
        consoleLine("window destroyed");
    }
    if (xs.colormap)
    {
        XFreeColormap(xs.display, xs.colormap);
    }
    if (xs.visual)
    {
        XFree(xs.visual);
    }
    if (xs.display)
    {
        XSync(xs.display, False);
        registerDisplay(xs.display, false);
        XCloseDisplay(xs.display);
    }
    x_state_.reset();
}

void ViewerWindowT::runLoop()
{
    XStateT& xs = *x_state_;
    XEvent event;
    while (!quit_)
    {
        if (!animate_ && !paintPending_)
        {
            XNextEvent(xs.display, &event);
            dispatch(&event);
            continue;
        }
        while (!quit_ && XPending(xs.display) > 0)
        {
            XNextEvent(xs.display, &event);
            dispatch(&event);
        }
        if (quit_)
        {
            break;
        }
        paintPending_ = false;
        bool painted;
        {
            std::lock_guard lock(area_.mutex());
            painted = area_.onPaint();
        }
        if (!painted)
        {
            // Another viewer is painting: try again shortly, so a still window never stays stale.
            paintPending_ = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        ++paints_;
        if (xs.pendingSync > 0)
        {
            {
                std::lock_guard lock(stateMutex_);
                syncDone_ = std::max(syncDone_, xs.pendingSync);
            }
            xs.pendingSync = 0;
            stateChanged_.notify_all();
        }
    }
}

void ViewerWindowT::dispatch(void* raw)
{
    XEvent& event = *static_cast<XEvent*>(raw);
    XStateT& xs = *x_state_;
    switch (event.type)
    {
    case Expose:
        if (event.xexpose.count == 0)
        {
            paintPending_ = true;
        }
        break;
    case ConfigureNotify:
    {
        std::lock_guard lock(area_.mutex());
        area_.onSize(event.xconfigure.width, event.xconfigure.height);
        paintPending_ = true;
        break;
    }
    case MotionNotify:
    {
        // Only the latest position of a burst of motion matters.
        while (XCheckTypedWindowEvent(xs.display, xs.window, MotionNotify, &event))
        {
        }
        unsigned state = event.xmotion.state;
        std::lock_guard lock(area_.mutex());
        area_.onMouseMove(state & Button1Mask, state & Button2Mask, state & Button3Mask,
                          event.xmotion.x, event.xmotion.y);
        break;
    }
    case ButtonPress:
    case ButtonRelease:
    {
        unsigned button = event.xbutton.button;
        if (button < 1 || button > 3)
        {
            break; // wheel and extra buttons are not bound
        }
        std::lock_guard lock(area_.mutex());
        if (event.type == ButtonPress)
        {
            area_.onButtonDown(int(button), event.xbutton.x, event.xbutton.y);
        }
        else
        {
            area_.onButtonUp(int(button), event.xbutton.x, event.xbutton.y);
        }
        break;
    }
    case KeyPress:
    case KeyRelease:
    {
        int key = mapKey(XLookupKeysym(&event.xkey, 0));
        std::lock_guard lock(area_.mutex());
        if (event.type == KeyPress)
        {
            area_.onKeyDown(key);
        }
        else
        {
            area_.onKeyUp(key);
        }
        break;
    }
    case ClientMessage:
        if (event.xclient.format != 32)
        {
            break;
        }
        if (Atom(event.xclient.data.l[0]) == xs.wmDelete)
        {
            // The close request: the loop ends and the window is destroyed after it.
            quit_ = true;
        }
        else if (event.xclient.message_type == xs.wake)
        {
            switch (event.xclient.data.l[0])
            {
            case kWakePaint:
                paintPending_ = true;
                break;
            case kWakeClose:
                quit_ = true;
                break;
            case kWakeSync:
                xs.pendingSync = std::max(xs.pendingSync, (long long)event.xclient.data.l[1]);
                paintPending_ = true;
                break;
            default:
                break;
            }
        }
        break;
    default:
        break;
    }
}

void ViewerWindowT::sendClientMessage(long kind, long value)
{
    // The connection stays open while a sender uses it (tearDown waits for senders), but no
    // mutex of ours is held during the Xlib calls, so our locks never nest with Xlib's.
    Display* display;
    Window window;
    Atom wake;
    {
        std::lock_guard lock(stateMutex_);
        if (!connectionOpen_ || !x_state_)
        {
            return;
        }
        display = x_state_->display;
        window = x_state_->window;
        wake = x_state_->wake;
        ++senders_;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = wake;
    event.xclient.format = 32;
    event.xclient.data.l[0] = kind;
    event.xclient.data.l[1] = value;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
    {
        std::lock_guard lock(stateMutex_);
        --senders_;
    }
    stateChanged_.notify_all();
}

void ViewerWindowT::invalidate()
{
    paintPending_ = true;
    if (loopThread_.load() != std::this_thread::get_id())
    {
        sendClientMessage(kWakePaint, 0);
    }
}

bool ViewerWindowT::destroyWindow()
{
    if (!thread_.joinable())
    {
        return true;
    }
    quit_ = true;
    sendClientMessage(kWakeClose, 0);
    return joinOrDetach(thread_, stateMutex_, stateChanged_, ended_, kViewerJoinTimeout);
}

bool joinOrDetach(std::thread& thread, std::mutex& mutex, std::condition_variable& changed,
                  const std::atomic<bool>& ended, std::chrono::milliseconds timeout)
{
    bool endedInTime;
    {
        std::unique_lock lock(mutex);
        endedInTime = changed.wait_for(lock, timeout, [&ended] { return ended.load(); });
    }
    if (!endedInTime)
    {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", double(timeout.count()) / 1000);
        consoleLine(std::string("viewer thread did not end within ") + seconds +
                    " s; left to finish");
        thread.detach();
        return false;
    }
    thread.join();
    return true;
}

bool ViewerWindowT::waitUntilRunning(double seconds)
{
    std::unique_lock lock(stateMutex_);
    return stateChanged_.wait_for(lock, std::chrono::duration<double>(seconds),
                                  [this] { return started_.load() || ended_.load(); }) &&
           !ended_.load();
}

bool ViewerWindowT::sync(double seconds)
{
    if (!waitUntilRunning(seconds))
    {
        return false;
    }
    long long token;
    {
        std::lock_guard lock(stateMutex_);
        token = ++syncSent_;
    }
    sendClientMessage(kWakeSync, long(token));
    std::unique_lock lock(stateMutex_);
    return stateChanged_.wait_for(lock, std::chrono::duration<double>(seconds),
                                  [&] { return syncDone_ >= token || ended_.load(); }) &&
           !ended_.load();
}

std::string ViewerWindowT::title() const
{
    std::lock_guard lock(stateMutex_);
    return shownTitle_;
}

void ViewerWindowT::setTitle(const std::string& title)
{
    {
        std::lock_guard lock(stateMutex_);
        if (title == shownTitle_)
        {
            return;
        }
        shownTitle_ = title;
    }
    XStoreName(x_state_->display, x_state_->window, title.c_str());
    XFlush(x_state_->display);
}

void ViewerWindowT::captureMouse()
{
    XGrabPointer(x_state_->display, x_state_->window, False,
                 ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                 GrabModeAsync, None, None, CurrentTime);
}

void ViewerWindowT::releaseMouse()
{
    XUngrabPointer(x_state_->display, CurrentTime);
}

void ViewerWindowT::placeWindow(int x, int y, int width, int height)
{
    if (width > 0 && height > 0)
    {
        XMoveResizeWindow(x_state_->display, x_state_->window, x, y, unsigned(width),
                          unsigned(height));
    }
}

void ViewerWindowT::windowPosition(int& x, int& y)
{
    Window child;
    XStateT& xs = *x_state_;
    if (!XTranslateCoordinates(xs.display, xs.window, DefaultRootWindow(xs.display), 0, 0, &x, &y,
                               &child))
    {
        x = x_;
        y = y_;
    }
}

void ViewerWindowT::swapBuffers()
{
    glXSwapBuffers(x_state_->display, x_state_->window);
}

} // namespace loom
