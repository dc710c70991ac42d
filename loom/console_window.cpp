// The desktop console window: mirrors every console line into a GTK text view. The console sink
// runs on whichever thread printed the line, so it only queues the line and schedules one idle
// callback that appends the whole queue on the main thread.

#include "loom/console_window.h"

#include "loom/console.h"

#include <cstdio>

namespace loom
{

ConsoleWindowT::ConsoleWindowT()
{
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(window_);
    gtk_window_set_title(GTK_WINDOW(window_), "loom console");
    gtk_window_set_default_size(GTK_WINDOW(window_), 560, 420);
    // Closing the console only hides it; the program goes on with the dialog.
    gtk_widget_set_can_focus(window_, FALSE);
    g_signal_connect(window_, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);

    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC,
                                   GTK_POLICY_AUTOMATIC);
    view_ = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view_), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view_), FALSE);
    gtk_text_view_set_monospace(GTK_TEXT_VIEW(view_), TRUE);
    buffer_ = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view_));
    gtk_container_add(GTK_CONTAINER(scroll), view_);
    gtk_container_add(GTK_CONTAINER(window_), scroll);
}

ConsoleWindowT::~ConsoleWindowT()
{
    if (mirroring_)
    {
        setConsoleSink({});
    }
    {
        std::lock_guard lock(queueMutex_);
        if (drainSource_ != 0)
        {
            g_source_remove(drainSource_);
        }
        queue_.clear();
    }
    gtk_widget_destroy(window_);
    g_object_unref(window_);
}

void ConsoleWindowT::open(int x, int y)
{
    gtk_window_move(GTK_WINDOW(window_), x, y);
    gtk_widget_show_all(window_);
    mirroring_ = true;
    setConsoleSink(
        [this](const std::string& line)
        {
            std::fputs(line.c_str(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
            std::lock_guard lock(queueMutex_);
            queue_.push_back(line);
            if (!drainScheduled_)
            {
                drainScheduled_ = true;
                drainSource_ = g_idle_add(drainQueue, this);
            }
        });
}

gboolean ConsoleWindowT::drainQueue(gpointer self)
{
    auto* console = static_cast<ConsoleWindowT*>(self);
    std::deque<std::string> lines;
    {
        std::lock_guard lock(console->queueMutex_);
        lines.swap(console->queue_);
        console->drainScheduled_ = false;
        console->drainSource_ = 0;
    }
    for (const std::string& line : lines)
    {
        console->append(line);
    }
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(console->buffer_, &end);
    GtkTextMark* mark = gtk_text_buffer_create_mark(console->buffer_, nullptr, &end, FALSE);
    gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(console->view_), mark);
    gtk_text_buffer_delete_mark(console->buffer_, mark);
    return G_SOURCE_REMOVE;
}

void ConsoleWindowT::append(const std::string& line)
{
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer_, &end);
    // Lines from files may hold bytes that are not UTF-8; the view accepts only UTF-8.
    gchar* valid = g_utf8_make_valid(line.c_str(), gssize(line.size()));
    gtk_text_buffer_insert(buffer_, &end, valid, -1);
    g_free(valid);
    gtk_text_buffer_get_end_iter(buffer_, &end);
    gtk_text_buffer_insert(buffer_, &end, "\n", 1);
    int excess = gtk_text_buffer_get_line_count(buffer_) - 1 - kMaxLines;
    if (excess > 0)
    {
        GtkTextIter start, cut;
        gtk_text_buffer_get_start_iter(buffer_, &start);
        gtk_text_buffer_get_iter_at_line(buffer_, &cut, excess);
        gtk_text_buffer_delete(buffer_, &start, &cut);
    }
}

std::string ConsoleWindowT::text() const
{
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer_, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer_, &start, &end, FALSE);
    std::string result = text;
    g_free(text);
    return result;
}

} // namespace loom
