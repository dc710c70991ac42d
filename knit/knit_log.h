#pragma once

// knit's diagnostics: every message goes through these two calls as one whole line (or a few),
// flushed at once. Statistics and input counts go to the output stream, everything else to the
// error stream. Tests capture both with KnitLogCaptureT.

#include <string>

namespace knit
{

// printf-style message on the error stream (standard error unless captured).
void knitErr(const char* format, ...) __attribute__((format(printf, 1, 2)));
// printf-style message on the output stream (standard output unless captured).
void knitOut(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While alive, knitErr and knitOut append to err / out instead of printing. Not nestable.
class KnitLogCaptureT
{
public:
    KnitLogCaptureT();
    ~KnitLogCaptureT();
    KnitLogCaptureT(const KnitLogCaptureT&) = delete;
    KnitLogCaptureT& operator=(const KnitLogCaptureT&) = delete;

    std::string err;
    std::string out;
};

} // namespace knit
