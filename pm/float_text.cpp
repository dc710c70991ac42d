// The "%.12e" form of the progressive mesh file's floats. A float is m * 2^e with m below 2^24;
// for the magnitudes details and coordinates have, m * 10^k fits in 128 bits for the k that
// brings 13 digits before the binary point, so one multiplication and one shift give the digits
// exactly, and the bits shifted out decide the rounding. Other values go to std::to_chars.
#include "pm/float_text.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace
{

using U128 = unsigned __int128;

constexpr uint64_t kTwelveDigits = 1000000000000ull;    // 10^12
constexpr uint64_t kThirteenDigits = 10000000000000ull; // 10^13
// 10^k * m stays below 2^128 for m < 2^24 up to this k.
constexpr int kMaxPower = 31;

constexpr U128 powerOfTen(int k)
{
    U128 p = 1;
    for (int i = 0; i < k; ++i)
    {
        p *= 10;
    }
    return p;
}

struct PowersT
{
    U128 values[kMaxPower + 1];
    constexpr PowersT()
        : values()
    {
        for (int k = 0; k <= kMaxPower; ++k)
        {
            values[k] = powerOfTen(k);
        }
    }
};
constexpr PowersT kPowers;

// "00" to "99".
struct DigitPairsT
{
    char text[200];
    constexpr DigitPairsT()
        : text()
    {
        for (int i = 0; i < 100; ++i)
        {
            text[2 * i] = char('0' + i / 10);
            text[2 * i + 1] = char('0' + i % 10);
        }
    }
};
constexpr DigitPairsT kDigitPairs;

// Writes n (below 10^6) as six digits with leading zeros.
void writeSixDigits(char* out, uint32_t n)
{
    const uint32_t high = n / 10000;
    const uint32_t rest = n % 10000;
    const uint32_t middle = rest / 100;
    const uint32_t low = rest % 100;
    std::memcpy(out, kDigitPairs.text + 2 * high, 2);
    std::memcpy(out + 2, kDigitPairs.text + 2 * middle, 2);
    std::memcpy(out + 4, kDigitPairs.text + 2 * low, 2);
}

char* general(char* out, float value)
{
    return std::to_chars(out, out + kScientific12Max, double(value), std::chars_format::scientific,
                         12)
        .ptr;
}

} // namespace

char* writeScientific12(char* out, float value)
{
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    const int biased = int(bits >> 23 & 0xff);
    // Zero and subnormals, infinities and NaN, and magnitudes from 2^24 on (whole numbers, where
    // m * 2^e is no longer a fraction) take the general path.
    if (biased == 0 || biased >= 127 + 24)
    {
        return general(out, value);
    }
    const uint64_t m = (bits & 0x7fffff) | 0x800000;
    // value = m / 2^shift, with 0 <= shift <= 149.
    const int shift = 150 - biased;
    // floor(b * log10(2)) for the binary exponent b: the decimal exponent or one below it.
    int exponent = ((biased - 127) * 1233) >> 12;
    int k = 12 - exponent;
    if (k > kMaxPower || shift >= 128)
    {
        return general(out, value);
    }
    U128 scaled = U128(m) * kPowers.values[k];
    uint64_t digits = uint64_t(scaled >> shift);
    if (digits >= kThirteenDigits)
    {
        ++exponent;
        --k;
        scaled = U128(m) * kPowers.values[k];
        digits = uint64_t(scaled >> shift);
    }
    if (digits < kTwelveDigits || digits >= kThirteenDigits)
    {
        return general(out, value); // not reached: the estimate is the exponent or one below it
    }
    // Round the exact remainder to nearest, ties to even (none is left for the whole numbers
    // from 2^23 on, whose shift is 0).
    if (shift > 0)
    {
        const U128 half = U128(1) << (shift - 1);
        const U128 rest = scaled & ((U128(1) << shift) - 1);
        if (rest > half || (rest == half && (digits & 1) != 0))
        {
            ++digits;
        }
    }
    if (digits == kThirteenDigits)
    {
        digits = kTwelveDigits;
        ++exponent;
    }

    if ((bits & 0x80000000u) != 0)
    {
        *out++ = '-';
    }
    *out++ = char('0' + digits / kTwelveDigits);
    *out++ = '.';
    const uint64_t fraction = digits % kTwelveDigits;
    writeSixDigits(out, uint32_t(fraction / 1000000));
    writeSixDigits(out + 6, uint32_t(fraction % 1000000));
    out += 12;
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    const int magnitude = exponent < 0 ? -exponent : exponent;
    *out++ = char('0' + magnitude / 10);
    *out++ = char('0' + magnitude % 10);
    return out;
}
