#pragma once

// The 16-bit integer arithmetic coder that carries everything in a compressed knit file, and
// its static models: uniform(n) and the escape-length model. A model gives for a symbol its
// interval (cumulative count, count, total); totals stay at most about 0x4000 so that range times
// count fits in 32 bits. The coder's 16-bit `low` goes out, and `value` comes in, most
// significant bit first.

#include "knit/bit_stream.h"

#include <array>
#include <cstdint>

namespace knit
{

// Division by a model's total, the hottest operation of both coders, as a multiplication: with
// M = floor((2^64 - 1) / d) + 1, n / d equals the high 64 bits of M * n for every 32-bit n and
// every d >= 2 (for d = 1, M would be 2^64), so the quotients are exactly those of the division.
// Totals of valid models stay below the table's end; larger ones, and 1 and 0, divide.
constexpr uint32_t kReciprocalTotals = 0x4000;
inline constexpr std::array<uint64_t, kReciprocalTotals> kTotalReciprocals = [] {
    std::array<uint64_t, kReciprocalTotals> table{};
    for (uint32_t d = 2; d < kReciprocalTotals; ++d)
    {
        table[d] = ~uint64_t(0) / d + 1;
    }
    return table;
}();

inline uint32_t divideByTotal(uint32_t n, uint32_t total)
{
    if (total - 2 < kReciprocalTotals - 2)
    {
        return static_cast<uint32_t>((static_cast<unsigned __int128>(kTotalReciprocals[total]) * n) >> 64);
    }
    return n / total;
}

// Encoder: narrows [low, high] to each symbol's interval and writes the settled bits.
class ArithmeticEncoderT
{
public:
    explicit ArithmeticEncoderT(BitSinkT& sink)
        : sink_(sink)
    {
    }

    // Codes the interval [cum, cum + count) of total. Preconditions: count >= 1,
    // cum + count <= total <= 0x8000. An interval too narrow for the current range (which a
    // valid model never gives) marks the encoder failed instead of writing a stream that would
    // decode to something else.
    void encode(uint32_t cum, uint32_t count, uint32_t total)
    {
        if (count == total)
        {
            return; // a certain symbol costs nothing and leaves the interval as it is
        }
        uint32_t range = high_ - low_ + 1;
        uint32_t upper = divideByTotal(range * (cum + count), total);
        uint32_t lower = divideByTotal(range * cum, total);
        if (upper <= lower)
        {
            failed_ = true;
            return;
        }
        uint32_t high = low_ + upper - 1;
        uint32_t low = low_ + lower;
        // The bit-by-bit renormalisation in its two runs (see the decoder): the leading bits
        // that low and high share go out, the first followed by the pending bits; each
        // straddling step adds a pending bit.
        int shared = __builtin_clz(((low ^ high) << 16) | 0x8000u);
        if (shared > 0)
        {
            uint32_t bits = low >> (16 - shared);
            emit(static_cast<int>(bits >> (shared - 1)));
            sink_.putBits(bits, shared - 1);
        }
        low = (low << shared) & 0xFFFF;
        high = ((high << shared) & 0xFFFF) | ((1u << shared) - 1);
        int straddle = __builtin_clz((((~low | high) & 0x7FFF) << 17) | 0x10000u);
        pending_ += static_cast<uint64_t>(straddle);
        low_ = (low << straddle) & 0x7FFF;
        high_ = 0x8000 | ((high << straddle) & 0x7FFF) | ((1u << straddle) - 1);
    }
    // Codes symbol s of uniform(n): interval [s, s + 1) of n.
    void encodeUniform(uint32_t s, uint32_t n) { encode(s, 1, n); }
    // Outputs the 16 bits of low, most significant first, the first of them followed by the
    // pending bits (its complement). The caller then flushes the bit sink.
    void finish();
    // True once an interval was too narrow to code (see encode).
    bool failed() const { return failed_; }
    // Bits handed to the sink so far (pending bits not yet included).
    uint64_t bitsOutput() const { return sink_.bitCount(); }

private:
    // Outputs a bit followed by the pending bits, its complement.
    void emit(int bit)
    {
        sink_.putBit(bit);
        if (pending_ > 0)
        {
            sink_.putRepeated(!bit, pending_);
            pending_ = 0;
        }
    }

    BitSinkT& sink_;
    uint32_t low_ = 0;
    uint32_t high_ = 0xFFFF;
    uint64_t pending_ = 0;
    bool failed_ = false;
};

// Decoder: follows the encoder's narrowing with a 16-bit window `value` on the stream.
class ArithmeticDecoderT
{
public:
    explicit ArithmeticDecoderT(BitSourceT& source)
        : source_(source)
    {
    }

    // Reads the first 16 bits into value, most significant first.
    void start();
    // The count in [0, total) that the next symbol's interval must hold. Precondition:
    // 1 <= total <= 0x8000.
    uint32_t target(uint32_t total)
    {
        range_ = high_ - low_ + 1;
        return ((value_ - low_ + 1) * total - 1) / range_;
    }
    // Narrows to the decoded symbol's interval [cum, cum + count) of total and shifts in bits.
    // Precondition: target(total) was the last call.
    void consume(uint32_t cum, uint32_t count, uint32_t total)
    {
        uint32_t range = range_;
        if (count == total)
        {
            return; // a certain symbol: the interval stays as it is
        }
        uint32_t high = low_ + divideByTotal(range * (cum + count), total) - 1;
        uint32_t low = low_ + divideByTotal(range * cum, total);
        // The bit-by-bit renormalisation in two runs, each counted at once: first the leading
        // bits that low and high share are shifted out; then, while low is 01... and high
        // 10..., the bit below the top one is dropped (value stays between them throughout,
        // so it follows with the same shifts). No step of the first kind can follow one of the
        // second, as low's top bit then stays 0 and high's 1.
        int shared = __builtin_clz(((low ^ high) << 16) | 0x8000u);
        low = (low << shared) & 0xFFFF;
        high = ((high << shared) & 0xFFFF) | ((1u << shared) - 1);
        uint32_t value = ((value_ << shared) & 0xFFFF) | source_.getBits(shared);
        int straddle = __builtin_clz((((~low | high) & 0x7FFF) << 17) | 0x10000u);
        low_ = (low << straddle) & 0x7FFF;
        high_ = 0x8000 | ((high << straddle) & 0x7FFF) | ((1u << straddle) - 1);
        value_ = (value & 0x8000) | ((value << straddle) & 0x7FFF) | source_.getBits(straddle);
    }
    // Decodes a symbol of uniform(n), n >= 1.
    uint32_t decodeUniform(uint32_t n)
    {
        uint32_t s = target(n);
        consume(s, 1, n);
        return s;
    }
    // True once the stream has been read too far past its end (a truncated or bad stream).
    bool failed() const { return source_.overrun(); }

private:
    BitSourceT& source_;
    uint32_t low_ = 0;
    uint32_t high_ = 0xFFFF;
    uint32_t value_ = 0;
    uint32_t range_ = 0x10000; // high - low + 1 as of the last target()
};

// uniform(n): symbol s has cumulative s, count 1, total n; it never adapts.
class UniformModelT
{
public:
    explicit UniformModelT(uint32_t n)
        : n_(n)
    {
    }
    uint32_t total() const { return n_; }
    void encode(ArithmeticEncoderT& encoder, uint32_t s) const { encoder.encode(s, 1, n_); }
    uint32_t decode(ArithmeticDecoderT& decoder) const { return decoder.decodeUniform(n_); }

private:
    uint32_t n_;
};

// The escape-length model: three symbols with the static counts 4, 2 and 1 (total 7). Symbol 0
// announces a value of at most 15 in uniform(16), 1 a value below 256 in one byte, 2 two bytes.
struct EscapeLengthModelT
{
    static constexpr uint32_t kTotal = 7;
    static void encode(ArithmeticEncoderT& encoder, uint32_t s)
    {
        static constexpr uint32_t kCum[3] = {0, 4, 6};
        static constexpr uint32_t kCount[3] = {4, 2, 1};
        encoder.encode(kCum[s], kCount[s], kTotal);
    }
    static uint32_t decode(ArithmeticDecoderT& decoder)
    {
        uint32_t t = decoder.target(kTotal);
        uint32_t s = t < 4 ? 0 : (t < 6 ? 1 : 2);
        static constexpr uint32_t kCum[3] = {0, 4, 6};
        static constexpr uint32_t kCount[3] = {4, 2, 1};
        decoder.consume(kCum[s], kCount[s], kTotal);
        return s;
    }
};

// Largest value an escape can carry (two bytes).
constexpr uint32_t kMaxEscapeValue = 65535;

// Escape value w: escape-length symbol 0 and w in uniform(16) when w <= 15; symbol 1 and one
// byte when w < 256; otherwise symbol 2 and the low byte, then the next byte. Precondition:
// w <= kMaxEscapeValue.
void encodeEscape(ArithmeticEncoderT& encoder, uint32_t w);
uint32_t decodeEscape(ArithmeticDecoderT& decoder);

// Ranged value a in range b: nothing when b <= 1; bytes, low first, as many as b has base-256
// digits when b > 0x3FFF; else one symbol of uniform(b). Precondition: a < b, or b <= 1.
void encodeRanged(ArithmeticEncoderT& encoder, uint32_t a, uint32_t b);
// Reads a ranged value for b >= 1 (0 when b == 1). The result may be >= b on a bad stream.
uint32_t decodeRanged(ArithmeticDecoderT& decoder, uint32_t b);

// Raw bits: bits / 8 whole bytes, low first, as symbols of uniform(256), then the remaining
// bits % 8 bits as one symbol of uniform(2^(bits % 8)). bits is 0-32.
void encodeRawBits(ArithmeticEncoderT& encoder, uint32_t value, int bits);
uint32_t decodeRawBits(ArithmeticDecoderT& decoder, int bits);

} // namespace knit
