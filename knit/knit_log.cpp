// knit's two diagnostic streams, with a capture switch for tests.

#include "knit/knit_log.h"

#include <cstdarg>
#include <cstdio>

namespace knit
{
namespace
{

KnitLogCaptureT* gCapture = nullptr;

void emit(FILE* stream, std::string* captured, const char* format, va_list args)
{
    if (captured != nullptr)
    {
        va_list copy;
        va_copy(copy, args);
        int n = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (n > 0)
        {
            size_t old = captured->size();
            captured->resize(old + static_cast<size_t>(n) + 1);
            std::vsnprintf(captured->data() + old, static_cast<size_t>(n) + 1, format, args);
            captured->resize(old + static_cast<size_t>(n));
        }
        return;
    }
    std::vfprintf(stream, format, args);
    std::fflush(stream);
}

} // namespace

void knitErr(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    emit(stderr, gCapture != nullptr ? &gCapture->err : nullptr, format, args);
    va_end(args);
}

void knitOut(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    emit(stdout, gCapture != nullptr ? &gCapture->out : nullptr, format, args);
    va_end(args);
}

KnitLogCaptureT::KnitLogCaptureT()
{
    gCapture = this;
}

KnitLogCaptureT::~KnitLogCaptureT()
{
    gCapture = nullptr;
}

} // namespace knit
