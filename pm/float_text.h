#pragma once

// The progressive mesh file's float form: C's "%.12e" of a float's exact value (the platform's
// two-digit exponent, more digits when needed), written without going through the C library.

#include <cstddef>

// Longest text writeScientific12 writes ("-3.402823466385e+38" is 19 characters).
constexpr size_t kScientific12Max = 32;

// Writes value in "%.12e" form at out (room for kScientific12Max characters) and returns the end
// of the text; no terminating NUL. The digits are the value's exact decimal expansion rounded to
// 13 significant digits, ties to even, as the C library and std::to_chars give them.
char* writeScientific12(char* out, float value);
