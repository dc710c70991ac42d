#pragma once

// The exception type of the mesh core. Only impossible configurations throw it: the builder
// ("could not find a directed edge on a curve") and collapse ("bad collapse").

#include <string>

// Carries one text message and nothing else. Thrown by value.
class ExceptionT : public std::string
{
public:
    explicit ExceptionT(std::string message)
        : std::string(std::move(message))
    {
    }
    // The message, e.g. "bad collapse".
    const std::string& message() const { return *this; }
};
