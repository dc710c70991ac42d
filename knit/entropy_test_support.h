#pragma once

// Helpers for the entropy coding tests: encode into memory, and spell streams as bit strings
// ("0"/"1" in stream order, bytes filled least significant bit first).

#include "knit/arithmetic_coder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace knit
{

// Runs f(encoder) on a fresh encoder, finishes it and returns the bytes.
template <class F> std::vector<uint8_t> encodeToBytes(F f)
{
    MemoryOutputStreamT out;
    BitSinkT sink(out);
    ArithmeticEncoderT encoder(sink);
    f(encoder);
    encoder.finish();
    sink.flush();
    out.flush();
    return out.bytes();
}

// The first n bits of bytes in stream order.
inline std::string streamBits(const std::vector<uint8_t>& bytes, size_t n)
{
    std::string bits;
    for (size_t i = 0; i < n && i / 8 < bytes.size(); ++i)
    {
        bits += ((bytes[i / 8] >> (i % 8)) & 1) ? '1' : '0';
    }
    return bits;
}

// Packs a bit string into bytes in stream order.
inline std::vector<uint8_t> packBits(const std::string& bits)
{
    std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i)
    {
        if (bits[i] == '1')
        {
            bytes[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
        }
    }
    return bytes;
}

// A width-bit field, least significant bit first.
inline std::string lsb(uint64_t value, int width)
{
    std::string bits;
    for (int i = 0; i < width; ++i)
    {
        bits += ((value >> i) & 1) ? '1' : '0';
    }
    return bits;
}

// A width-bit field, most significant bit first (how a byte of uniform(256) leaves the coder
// from its initial state).
inline std::string msb(uint64_t value, int width)
{
    std::string bits;
    for (int i = width - 1; i >= 0; --i)
    {
        bits += ((value >> i) & 1) ? '1' : '0';
    }
    return bits;
}

} // namespace knit
