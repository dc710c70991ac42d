#pragma once

// The console window of the desktop program: a GTK window with a scrolling text view that shows
// every console line, so that a user who starts loom from a desktop launcher still sees the
// diagnostics. Lines keep going to standard output as well. Lines may come from any thread; they
// are queued and appended on the GTK main thread.

#include <gtk/gtk.h>

#include <deque>
#include <mutex>
#include <string>

namespace loom
{

class ConsoleWindowT
{
public:
    // Creates the window (not shown yet). Call on the GTK main thread after gtk_init.
    ConsoleWindowT();
    // Stops mirroring (restores the plain standard output sink) and destroys the window.
    ~ConsoleWindowT();
    ConsoleWindowT(const ConsoleWindowT&) = delete;
    ConsoleWindowT& operator=(const ConsoleWindowT&) = delete;

    // Shows the window at (x, y) and starts mirroring console lines into it.
    void open(int x, int y);

    GtkWidget* widget() { return window_; }
    // The text shown so far (for the tests); main thread only.
    std::string text() const;

    // Most lines kept in the view; older ones are dropped from its top.
    static constexpr int kMaxLines = 5000;

private:
    static gboolean drainQueue(gpointer self);
    void append(const std::string& line);

    GtkWidget* window_ = nullptr;
    GtkWidget* view_ = nullptr;
    GtkTextBuffer* buffer_ = nullptr;
    std::mutex queueMutex_;
    std::deque<std::string> queue_;
    bool drainScheduled_ = false;
    guint drainSource_ = 0;
    bool mirroring_ = false;
};

} // namespace loom
