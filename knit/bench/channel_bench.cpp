// Benchmark of the connectivity channel alone: a symbol stream shaped like a triangle mesh's
// traversal (one face valence per face, one vertex valence per two faces, a few splits and
// escapes) recorded and written by the writer, then read back by the reader. Prints one line
// per table setting: symbols, bytes, best-of-N encode and decode times and symbols per second.
// --quick runs a small stream once.

#include "knit/connectivity_channel.h"
#include "knit/knit_codes.h"
#include "knit/knit_log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace
{

using namespace knit;
using ClockT = std::chrono::steady_clock;

struct OpT
{
    bool face;
    int value; // valence, -1 = split
    int context;
};

std::vector<OpT> meshLikeOps(int faces, int faceTables, int vertexTables)
{
    std::mt19937 random(42);
    std::discrete_distribution<int> vertexValence({0, 0, 0, 1, 3, 12, 40, 12, 3, 1});
    std::vector<OpT> ops;
    ops.reserve(static_cast<size_t>(faces) * 3 / 2);
    for (int f = 0; f < faces; ++f)
    {
        int v = random() % 500 == 0 ? 4 : 3;
        ops.push_back({true, v, static_cast<int>(random() % static_cast<unsigned>(faceTables))});
        if (f % 2 == 0)
        {
            int valence = random() % 2000 == 0 ? -1 : vertexValence(random);
            if (random() % 5000 == 0)
            {
                valence = 20;
            }
            ops.push_back(
                {false, valence, static_cast<int>(random() % static_cast<unsigned>(vertexTables))});
        }
    }
    return ops;
}

double seconds(ClockT::time_point a, ClockT::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    int faces = quick ? 50000 : 2000000;
    int runs = quick ? 1 : 3;
    for (int tables : {1, 2, 8})
    {
        std::vector<OpT> ops = meshLikeOps(faces, tables, tables);
        double bestEncode = 1e30;
        double bestDecode = 1e30;
        std::vector<uint8_t> bytes;
        for (int run = 0; run < runs; ++run)
        {
            KnitLogCaptureT capture; // the statistics are not what is measured
            MemoryOutputStreamT out;
            BitSinkT sink(out);
            ArithmeticEncoderT encoder(sink);
            auto start = ClockT::now();
            ConnectivityWriterT writer(encoder, tables, tables, 0);
            for (const OpT& op : ops)
            {
                if (op.face)
                {
                    writer.writeFaceValence(op.value, op.context);
                }
                else if (op.value < 0)
                {
                    writer.writeVertexSplit(op.context);
                }
                else
                {
                    writer.writeVertexValence(op.value, op.context);
                }
            }
            if (writer.finish() != kOk)
            {
                std::fprintf(stderr, "encoding failed\n");
                return 1;
            }
            encoder.finish();
            sink.flush();
            out.flush();
            bestEncode = std::min(bestEncode, seconds(start, ClockT::now()));
            bytes = out.bytes();

            start = ClockT::now();
            MemoryInputStreamT in(bytes.data(), bytes.size());
            BitSourceT source(in);
            ArithmeticDecoderT decoder(source);
            decoder.start();
            ConnectivityReaderT reader(decoder, tables, tables);
            int result = reader.readTables();
            for (size_t i = 0; i < ops.size() && result == kOk; ++i)
            {
                int value = 0;
                result = ops[i].face ? reader.readFaceValence(ops[i].context, value)
                                     : reader.readVertexValence(ops[i].context, value);
                if (result == kOk && value != ops[i].value)
                {
                    result = kChannelBadFile;
                }
            }
            bestDecode = std::min(bestDecode, seconds(start, ClockT::now()));
            if (result != kOk)
            {
                std::fprintf(stderr, "decoding failed: %d\n", result);
                return 1;
            }
        }
        std::printf("channel F=V=%d: %zu symbols, %zu bytes, encode %.1f ms (%.1f M symbols/s), "
                    "decode %.1f ms (%.1f M symbols/s)\n",
                    tables, ops.size(), bytes.size(), bestEncode * 1e3,
                    static_cast<double>(ops.size()) / bestEncode * 1e-6, bestDecode * 1e3,
                    static_cast<double>(ops.size()) / bestDecode * 1e-6);
    }
    return 0;
}
