#pragma once

// Diagnostics of the mesh core: whole lines, by default written to the standard error stream
// and flushed at once. A program (or a test) may redirect them to a sink of its own.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Receives one diagnostic line without its line end.
using DiagnosticSinkT = std::function<void(std::string_view line)>;

// Writes one line through the current sink (standard error when none is set). Thread-safe: lines
// from several threads never interleave.
void meshDiagnostic(std::string_view line);

// Installs `sink` for every later meshDiagnostic call (an empty function restores standard
// error) and returns the previous sink.
DiagnosticSinkT setMeshDiagnosticSink(DiagnosticSinkT sink);

// Installs a sink that drops every line (setMeshDiagnosticSink({}) restores standard error): for
// fuzz targets and benchmarks, whose inputs provoke diagnostics by the thousand.
void discardMeshDiagnostics();

// While it lives, the diagnostic lines of the thread that made it are appended to `lines`
// instead of going to the sink: for work moved to a second thread whose messages must appear
// where the work would have run, passed on later with meshDiagnostic in order. Not nestable.
class HeldDiagnosticsT
{
public:
    explicit HeldDiagnosticsT(std::vector<std::string>& lines);
    ~HeldDiagnosticsT();
    HeldDiagnosticsT(const HeldDiagnosticsT&) = delete;
    HeldDiagnosticsT& operator=(const HeldDiagnosticsT&) = delete;
};
