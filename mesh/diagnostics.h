#pragma once

// Diagnostics of the mesh core: whole lines, by default written to the standard error stream
// and flushed at once. A program (or a test) may redirect them to a sink of its own.

#include <functional>
#include <string_view>

// Receives one diagnostic line without its line end.
using DiagnosticSinkT = std::function<void(std::string_view line)>;

// Writes one line through the current sink (standard error when none is set). Thread-safe: lines
// from several threads never interleave.
void meshDiagnostic(std::string_view line);

// Installs `sink` for every later meshDiagnostic call (an empty function restores standard
// error) and returns the previous sink.
DiagnosticSinkT setMeshDiagnosticSink(DiagnosticSinkT sink);
