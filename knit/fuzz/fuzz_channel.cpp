// Fuzz target: arbitrary bytes through the connectivity reader's table reading and symbol
// decoding. Byte 0 picks the table settings (1, 2 or 8 face and vertex tables, with or without
// a geometry table), bytes 1-2 seed the schedule of reads, the rest is the stream. Every read
// must end in a value or an error code, never a crash, a hang or an out-of-bounds access.

#include "knit/fuzz/fuzz_channel.h"

#include "knit/connectivity_channel.h"
#include "knit/knit_codes.h"
#include "knit/knit_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace knit;
    if (size < 3)
    {
        return 0;
    }
    fuzz::ChannelScheduleT schedule(data[0], static_cast<uint32_t>(data[1] | data[2] << 8));
    KnitLogCaptureT capture; // keeps "bad file" lines off the terminal
    MemoryInputStreamT in(data + 3, size - 3);
    BitSourceT source(in);
    ArithmeticDecoderT decoder(source);
    decoder.start();
    ConnectivityReaderT reader(decoder, schedule.faceTables, schedule.vertexTables);
    int r = reader.readTables();
    if (r == kOk && schedule.geometry)
    {
        r = reader.readGeometryTable();
    }
    for (int i = 0; i < fuzz::kScheduleLength && (r == kOk || r == kChannelEndOfFaces); ++i)
    {
        fuzz::ChannelOpT op = schedule.next();
        int value = 0;
        int other = 0;
        int32_t residual = 0;
        uint32_t raw = 0;
        switch (op.kind)
        {
        case fuzz::ChannelOpT::kVertex:
            r = reader.readVertexValence(op.context, value);
            break;
        case fuzz::ChannelOpT::kFace:
            r = reader.readFaceValence(op.context, value);
            break;
        case fuzz::ChannelOpT::kSplitRing:
            r = reader.readSplitRing(op.range, value, op.range2, other);
            break;
        case fuzz::ChannelOpT::kRanged:
            r = reader.readRanged(op.range, value);
            break;
        case fuzz::ChannelOpT::kResidual:
            r = reader.readResidual(residual);
            break;
        case fuzz::ChannelOpT::kRawBits:
            r = reader.readRawBits(op.range, raw);
            break;
        }
    }
    return 0;
}
