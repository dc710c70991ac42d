#pragma once

// A viewer window: an X11 window with its own GLX context on a thread of its own. The thread
// opens its own Xlib connection, creates the window with a double-buffered RGBA visual, makes
// its context current, and runs the message loop that feeds the drawing area (GlAreaT) with
// events. Other threads talk to it only by client messages sent on the viewer's connection.
// Call initViewerThreads() before any other Xlib or GTK call of the process.

#include "loom/gl_area.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace loom
{

// Prepares Xlib for use from several threads (XInitThreads). Returns false when it fails.
bool initViewerThreads();

// Keeps memory that the process frees for its own later use instead of handing it back to the
// system at once. The software OpenGL renderer allocates and frees its working memory for every
// frame (tens of megabytes for a large surface); handed back, each page of it faults in again
// on the next paint, which costs more than the drawing itself. Call once at start, before the
// viewer threads.
void keepFreedMemoryForPaints();

// Installs the X error handler that reports errors on viewer connections (one console line each,
// counted by viewerXErrorCount) and hands errors on every other connection to the handler that
// was installed before (GDK's). Call on the main thread after the toolkit opened its display.
void installViewerErrorHandler();

// Number of X errors reported on viewer connections since the start.
int viewerXErrorCount();

// How long destroyWindow waits for a viewer thread to end.
inline constexpr std::chrono::milliseconds kViewerJoinTimeout{10000};

// Ends a viewer thread: waits up to `timeout` until `ended` is set (checked under `mutex` each
// time `changed` is notified) and joins the thread. A thread that has not ended by then is
// reported ("viewer thread did not end within 10 s; left to finish", with the timeout's seconds)
// and detached instead of being killed, which could leave Xlib, GL or a mutex locked for good.
// Returns whether the thread ended in time. `thread` must be joinable.
bool joinOrDetach(std::thread& thread, std::mutex& mutex, std::condition_variable& changed,
                  const std::atomic<bool>& ended, std::chrono::milliseconds timeout);

// "XXXXXXXX.qz.gfxwindowclass" with the eight X's replaced by the hexadecimal digits of `id`,
// lowest digit first.
std::string windowClassName(unsigned long long id);

class ViewerWindowT : public ViewerWindowI
{
public:
    // The window serves `area` (which must outlive it).
    explicit ViewerWindowT(GlAreaT& area);
    // Ends the thread (as destroyWindow) if it still runs.
    ~ViewerWindowT() override;
    ViewerWindowT(const ViewerWindowT&) = delete;
    ViewerWindowT& operator=(const ViewerWindowT&) = delete;

    // Stores the values and starts the thread, which creates the window (client area width x
    // height at x, y) and runs the message loop. Prints "could not create thread " and returns
    // false when the thread cannot be started.
    bool createWindow(const std::string& title, int width, int height, int x, int y);

    // Sets quit, asks the window to close and waits up to 10 s for the thread. A thread that has
    // not ended by then is reported and left to finish on its own (detached) instead of being
    // killed in the middle of an Xlib or GL call; the window object then stays allocated.
    // Returns whether the thread ended. Never call it holding the area's mutex.
    bool destroyWindow();

    // Whether the thread has ended (the user closed the window, or the setup failed).
    bool ended() const { return ended_.load(); }
    // Whether the window was created and its loop runs.
    bool running() const { return started_.load() && !ended_.load(); }

    // Waits until the window exists and its loop runs (or the thread ended); false on timeout.
    bool waitUntilRunning(double seconds);
    // Waits until the loop has handled everything sent to it before this call and painted once
    // after it; false on timeout or when the thread ended.
    bool sync(double seconds);
    // The X window and its title as the loop last set it (for the scripted mode).
    unsigned long xWindow() const { return xWindow_.load(); }
    std::string title() const;
    // Frames painted so far.
    long long paints() const { return paints_.load(); }

    // ViewerWindowI, on the window thread.
    void setTitle(const std::string& title) override;
    // Sets the paint request; from another thread it also wakes the loop with a client message.
    void invalidate() override;
    void captureMouse() override;
    void releaseMouse() override;
    void placeWindow(int x, int y, int width, int height) override;
    void windowPosition(int& x, int& y) override;
    bool animate() const override { return animate_.load(); }
    void setAnimate(bool on) override { animate_ = on; }
    void swapBuffers() override;

private:
    struct XStateT;

    void threadMain();
    bool setUp();
    void runLoop();
    void dispatch(void* event);
    void tearDown();
    void sendClientMessage(long kind, long value);

    GlAreaT& area_;
    std::string title_;
    std::string className_;
    int width_ = 640, height_ = 480, x_ = 0, y_ = 0;
    std::thread thread_;
    std::unique_ptr<XStateT> x_state_;
    std::atomic<unsigned long> xWindow_{0};
    std::atomic<bool> quit_{false};
    std::atomic<bool> animate_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> ended_{false};
    std::atomic<long long> paints_{0};
    std::atomic<bool> paintPending_{true};
    std::atomic<std::thread::id> loopThread_{};

    // Guards the connection handle seen by other threads, the sync counters and the title.
    mutable std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    bool connectionOpen_ = false;
    int senders_ = 0; // other threads sending a client message right now
    long long syncSent_ = 0;
    long long syncDone_ = 0;
    std::string shownTitle_;
};

} // namespace loom
