#pragma once

// The schedule of channel reads that the channel fuzz target follows: a small generator seeded
// from the input, so that a seed stream written with the same schedule decodes in full.

#include <cstdint>

namespace knit::fuzz
{

constexpr int kScheduleLength = 4000;

struct ChannelOpT
{
    enum KindT
    {
        kVertex,
        kFace,
        kSplitRing,
        kRanged,
        kResidual,
        kRawBits,
    } kind;
    int context = 0;
    int range = 0;  // ring count, ranged value's range, raw bit count
    int range2 = 0; // offsets of a split ring
};

class ChannelScheduleT
{
public:
    ChannelScheduleT(uint8_t settings, uint32_t seed)
        : state_(seed * 2654435761u + 1)
    {
        static constexpr int kTables[4] = {1, 2, 8, 8};
        faceTables = kTables[settings & 3];
        vertexTables = kTables[(settings >> 2) & 3];
        geometry = (settings & 16) != 0;
    }

    ChannelOpT next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        uint32_t r = state_ >> 4;
        uint32_t kind = r % 16;
        r /= 16;
        ChannelOpT op{ChannelOpT::kVertex};
        if (kind < 7 || (kind == 14 && !geometry))
        {
            op.context = static_cast<int>(r % static_cast<uint32_t>(vertexTables));
        }
        else if (kind < 12)
        {
            op.kind = ChannelOpT::kFace;
            op.context = static_cast<int>(r % static_cast<uint32_t>(faceTables));
        }
        else if (kind == 12)
        {
            op.kind = ChannelOpT::kSplitRing;
            op.range = 1 + static_cast<int>(r % 40);
            op.range2 = 1 + static_cast<int>((r / 40) % 6);
        }
        else if (kind == 13)
        {
            op.kind = ChannelOpT::kRanged;
            op.range = static_cast<int>(r % 200000); // 0 is an error the reader must report
        }
        else if (kind == 14)
        {
            op.kind = ChannelOpT::kResidual;
        }
        else
        {
            op.kind = ChannelOpT::kRawBits;
            op.range = static_cast<int>(r % 33);
        }
        return op;
    }

    int faceTables = 1;
    int vertexTables = 1;
    bool geometry = false;

private:
    uint32_t state_;
};

} // namespace knit::fuzz
