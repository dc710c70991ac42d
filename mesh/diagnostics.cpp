// The mesh core's one diagnostic helper: every message of mesh/ passes through here so that a
// program can send it to its own console and tests can capture it.
#include "mesh/diagnostics.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace
{

std::mutex& sinkMutex()
{
    static std::mutex mutex;
    return mutex;
}

DiagnosticSinkT& currentSink()
{
    static DiagnosticSinkT sink;
    return sink;
}

// The lines held for the calling thread, or null.
thread_local std::vector<std::string>* heldLines = nullptr;

} // namespace

void meshDiagnostic(std::string_view line)
{
    if (heldLines != nullptr)
    {
        heldLines->emplace_back(line);
        return;
    }
    std::lock_guard<std::mutex> lock(sinkMutex());
    if (currentSink())
    {
        currentSink()(line);
        return;
    }
    std::string text(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

DiagnosticSinkT setMeshDiagnosticSink(DiagnosticSinkT sink)
{
    std::lock_guard<std::mutex> lock(sinkMutex());
    DiagnosticSinkT previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

void discardMeshDiagnostics()
{
    setMeshDiagnosticSink([](std::string_view) {});
}

HeldDiagnosticsT::HeldDiagnosticsT(std::vector<std::string>& lines)
{
    heldLines = &lines;
}

HeldDiagnosticsT::~HeldDiagnosticsT()
{
    heldLines = nullptr;
}
