#pragma once

// The diagnostics of ripple: every message is one whole line on the standard error stream,
// flushed at once. They go through the mesh core's diagnostic helper, so that one sink
// (setMeshDiagnosticSink) captures the messages of ripple and of the libraries it uses alike.

#include <sstream>
#include <string>

namespace ripple
{

// Writes one whole line through the toolkit's diagnostic helper.
void rippleLine(const std::string& line);

// Builds one line from stream insertions (default stream formatting) and writes it when
// destroyed:  RippleLogT() << "scaling by " << s;
class RippleLogT
{
public:
    RippleLogT() = default;
    RippleLogT(const RippleLogT&) = delete;
    RippleLogT& operator=(const RippleLogT&) = delete;
    ~RippleLogT() { rippleLine(text_.str()); }

    template <class ValueT> RippleLogT& operator<<(const ValueT& value)
    {
        text_ << value;
        return *this;
    }

private:
    std::ostringstream text_;
};

} // namespace ripple
