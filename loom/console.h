#pragma once

// The workbench console: every diagnostic of loom is one whole line written through
// consoleLine. Lines may come from the dialog thread and from the viewer threads at once, so
// each line is written under one process-wide lock. Tests and the desktop console window
// redirect the lines with setConsoleSink.

#include <functional>
#include <mutex>
#include <sstream>
#include <string>

namespace loom
{

// Receives one complete line (without its line feed). Called under the console lock.
using ConsoleSinkT = std::function<void(const std::string& line)>;

// Writes one whole line to the current sink (standard output, flushed, by default).
// Safe to call from any thread.
void consoleLine(const std::string& line);

// Replaces the sink; an empty function restores standard output. Returns the previous sink.
ConsoleSinkT setConsoleSink(ConsoleSinkT sink);

// The lock under which lines are written; hold it only briefly (e.g. to swap sinks).
std::mutex& consoleMutex();

// Builds one line from stream insertions and writes it when destroyed:
//   ConsoleT() << "read " << v << " verts";
class ConsoleT
{
public:
    ConsoleT() = default;
    ConsoleT(const ConsoleT&) = delete;
    ConsoleT& operator=(const ConsoleT&) = delete;
    ~ConsoleT() { consoleLine(text_.str()); }

    template <class ValueT> ConsoleT& operator<<(const ValueT& value)
    {
        text_ << value;
        return *this;
    }

private:
    std::ostringstream text_;
};

// Collects console lines for as long as it lives (tests): restores the previous sink after.
class ConsoleCaptureT
{
public:
    ConsoleCaptureT();
    ~ConsoleCaptureT();
    ConsoleCaptureT(const ConsoleCaptureT&) = delete;
    ConsoleCaptureT& operator=(const ConsoleCaptureT&) = delete;

    // Every line captured so far, each followed by a line feed.
    std::string text() const;
    // True when some captured line equals `line` exactly.
    bool hasLine(const std::string& line) const;
    // True when some captured line contains `part`.
    bool contains(const std::string& part) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::string text_;
    ConsoleSinkT previous_;
};

} // namespace loom
