// The console line helper of the workbench: one lock, one replaceable sink.
#include "loom/console.h"

#include <cstdio>

namespace loom
{

namespace
{

ConsoleSinkT& sinkSlot()
{
    static ConsoleSinkT sink;
    return sink;
}

} // namespace

std::mutex& consoleMutex()
{
    static std::mutex mutex;
    return mutex;
}

void consoleLine(const std::string& line)
{
    std::lock_guard<std::mutex> lock(consoleMutex());
    ConsoleSinkT& sink = sinkSlot();
    if (sink)
    {
        sink(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

ConsoleSinkT setConsoleSink(ConsoleSinkT sink)
{
    std::lock_guard<std::mutex> lock(consoleMutex());
    ConsoleSinkT previous = std::move(sinkSlot());
    sinkSlot() = std::move(sink);
    return previous;
}

ConsoleCaptureT::ConsoleCaptureT()
{
    previous_ = setConsoleSink(
        [this](const std::string& line)
        {
            std::lock_guard<std::mutex> lock(mutex_);
            text_ += line;
            text_ += '\n';
        });
}

ConsoleCaptureT::~ConsoleCaptureT()
{
    setConsoleSink(std::move(previous_));
}

std::string ConsoleCaptureT::text() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

bool ConsoleCaptureT::hasLine(const std::string& line) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_.starts_with(line + "\n") || text_.find("\n" + line + "\n") != std::string::npos;
}

bool ConsoleCaptureT::contains(const std::string& part) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_.find(part) != std::string::npos;
}

void ConsoleCaptureT::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    text_.clear();
}

} // namespace loom
