#include "pm/float_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

namespace
{

std::string fast(float value)
{
    char buffer[kScientific12Max];
    return std::string(buffer, writeScientific12(buffer, value));
}

std::string reference(float value)
{
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, double(value),
                                std::chars_format::scientific, 12);
    return std::string(buffer, result.ptr);
}

std::string printfForm(float value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.12e", double(value));
    return buffer;
}

} // namespace

TEST(Scientific12, matchesTheCLibraryOnFixedValues)
{
    // 9765.6259765625 has 14 significant digits ending in 5: an exact tie, rounded to even.
    const float tie = 10000001.0f / 1024.0f;
    for (float value : {0.0f,
                        -0.0f,
                        1.0f,
                        -1.0f,
                        0.1f,
                        0.5f,
                        9.999999e-1f,
                        1e-19f,
                        1e-20f,
                        1.5e-38f,
                        1e-45f,
                        8388608.0f, // whole numbers from 2^23 on: nothing to round
                        8388609.0f,
                        12345679.0f,
                        16777215.0f,
                        16777216.0f,
                        3.4028235e38f,
                        -1.349986672401e+00f,
                        tie,
                        -tie,
                        std::nextafter(1e-3f, 1.0f),
                        std::numeric_limits<float>::infinity(),
                        -std::numeric_limits<float>::infinity()})
    {
        EXPECT_EQ(fast(value), printfForm(value)) << value;
    }
    EXPECT_EQ(fast(tie), "9.765625976562e+03");
    EXPECT_EQ(fast(std::numeric_limits<float>::quiet_NaN()),
              reference(std::numeric_limits<float>::quiet_NaN()));
}

TEST(Scientific12, matchesToCharsAroundPowersOfTenAndOnRandomBits)
{
    // Around every power of ten in float range, where the exponent estimate and a rounding that
    // carries into the next decade are decided.
    for (int e = -45; e <= 38; ++e)
    {
        float value = std::pow(10.0f, float(e));
        for (int i = 0; i < 64; ++i)
        {
            value = std::nextafter(value, 0.0f);
        }
        for (int i = 0; i < 128; ++i)
        {
            ASSERT_EQ(fast(value), reference(value)) << std::bit_cast<uint32_t>(value);
            value = std::nextafter(value, std::numeric_limits<float>::infinity());
        }
    }
    std::mt19937 random(7);
    for (int i = 0; i < 2000000; ++i)
    {
        const float value = std::bit_cast<float>(uint32_t(random()));
        ASSERT_EQ(fast(value), reference(value)) << std::bit_cast<uint32_t>(value);
    }
}
