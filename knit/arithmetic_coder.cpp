// The coder's start and end, and the codings built from uniform symbols: escape values, ranged
// values and raw bits.

#include "knit/arithmetic_coder.h"

namespace knit
{

void ArithmeticEncoderT::finish()
{
    int first = static_cast<int>((low_ >> 15) & 1);
    emit(first);
    for (int i = 14; i >= 0; --i)
    {
        sink_.putBit(static_cast<int>((low_ >> i) & 1));
    }
    low_ = 0;
    high_ = 0xFFFF;
}

void ArithmeticDecoderT::start()
{
    value_ = source_.getBits(16);
}

void encodeEscape(ArithmeticEncoderT& encoder, uint32_t w)
{
    if (w <= 15)
    {
        EscapeLengthModelT::encode(encoder, 0);
        encoder.encodeUniform(w, 16);
    }
    else if (w < 256)
    {
        EscapeLengthModelT::encode(encoder, 1);
        encoder.encodeUniform(w, 256);
    }
    else
    {
        EscapeLengthModelT::encode(encoder, 2);
        encoder.encodeUniform(w & 0xFF, 256);
        encoder.encodeUniform((w >> 8) & 0xFF, 256);
    }
}

uint32_t decodeEscape(ArithmeticDecoderT& decoder)
{
    switch (EscapeLengthModelT::decode(decoder))
    {
    case 0:
        return decoder.decodeUniform(16);
    case 1:
        return decoder.decodeUniform(256);
    default:
    {
        uint32_t low = decoder.decodeUniform(256);
        return low | (decoder.decodeUniform(256) << 8);
    }
    }
}

void encodeRanged(ArithmeticEncoderT& encoder, uint32_t a, uint32_t b)
{
    if (b <= 1)
    {
        return;
    }
    if (b > 0x3FFF)
    {
        for (uint32_t rest = b; rest > 0; rest >>= 8)
        {
            encoder.encodeUniform(a & 0xFF, 256);
            a >>= 8;
        }
        return;
    }
    encoder.encodeUniform(a, b);
}

uint32_t decodeRanged(ArithmeticDecoderT& decoder, uint32_t b)
{
    if (b <= 1)
    {
        return 0;
    }
    if (b > 0x3FFF)
    {
        uint32_t a = 0;
        int shift = 0;
        for (uint32_t rest = b; rest > 0; rest >>= 8, shift += 8)
        {
            a |= decoder.decodeUniform(256) << shift;
        }
        return a;
    }
    return decoder.decodeUniform(b);
}

void encodeRawBits(ArithmeticEncoderT& encoder, uint32_t value, int bits)
{
    for (; bits >= 8; bits -= 8)
    {
        encoder.encodeUniform(value & 0xFF, 256);
        value >>= 8;
    }
    if (bits > 0)
    {
        encoder.encodeUniform(value & ((1u << bits) - 1), 1u << bits);
    }
}

uint32_t decodeRawBits(ArithmeticDecoderT& decoder, int bits)
{
    uint32_t value = 0;
    int shift = 0;
    for (; bits >= 8; bits -= 8, shift += 8)
    {
        value |= decoder.decodeUniform(256) << shift;
    }
    if (bits > 0)
    {
        value |= decoder.decodeUniform(1u << bits) << shift;
    }
    return value;
}

} // namespace knit
