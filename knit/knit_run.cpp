// The knit program's run: option parsing, the encode run (read, build, encode, write the side
// files, decode the new stream at once and compare it with the input) and the decode run (read
// the stream and the geometry, write the mesh file).

#include "knit/knit_run.h"

#include "knit/bit_stream.h"
#include "knit/connectivity_channel.h"
#include "knit/ir_coders.h"
#include "knit/irr_mesh_interface.h"
#include "knit/knit_codec.h"
#include "knit/knit_codes.h"
#include "knit/knit_log.h"
#include "knit/mesh_format.h"
#include "knit/poly_mesh.h"
#include "knit/side_files.h"

#include <cstdlib>
#include <memory>
#include <new>

namespace knit
{

namespace
{

constexpr int kMaxDecodeGeometryBits = 30;

CodecSettingsT settingsOf(const KnitOptionsT& options)
{
    CodecSettingsT settings;
    settings.faceTables = options.faceTables;
    settings.vertexTables = options.vertexTables;
    settings.geometryBits = options.geometryBits;
    return settings;
}

bool geometryBitsValid(int bits, int most)
{
    if (bits < 0 || bits > most)
    {
        knitErr("geometry bits %d out of range: 0 to %d in this mode\n", bits, most);
        return false;
    }
    return true;
}

} // namespace

const char* knitUsage()
{
    return "usage: knit [options] meshfile compressedfile [geometryfile]   (encode)\n"
           "       knit [options] word compressedfile geometryfile meshfile (decode)\n"
           "options (value directly after the letter):\n"
           "  -F<n>    face prediction tables: 0 one, 1 eight (default), 2 two\n"
           "  -V<n>    vertex prediction tables: 0 one, 1 eight (default)\n"
           "  -g<bits> code positions quantised to bits (encode 0-13, decode 0-30); 0 (default)\n"
           "           keeps them out of the stream, in the raw geometry file\n"
           "  -o       decode: write OBJ instead of Inventor text\n"
           "  -p<file> encode: also write the permutation file\n"
           "Encode and decode must use the same -F, -V and -g.\n"
           "exit codes: 0 success; 1 too few arguments, output not writable, or (decode)\n"
           "  geometry file missing; 2 input unreadable; 3 mesh not buildable or geometry file\n"
           "  not creatable; 4 the self-check of a new stream failed; 5 an output file could not\n"
           "  be written completely; 6 -g out of range; 7 mesh too large for the stream;\n"
           "  8 (-g) a coordinate is not finite; 9 geometry file too short; decode also exits\n"
           "  with the decoder's code for a bad stream (1, 2, 40, or 255, 254, ... for -1, -2, "
           "...)\n";
}

KnitOptionsT parseKnitOptions(const std::vector<std::string>& args)
{
    KnitOptionsT options;
    for (const std::string& arg : args)
    {
        if (arg.empty() || arg[0] != '-')
        {
            if (options.positional.size() < 4)
            {
                options.positional.push_back(arg);
            }
            continue;
        }
        if (arg.size() < 2)
        {
            continue;
        }
        const char* value = arg.c_str() + 2;
        switch (arg[1])
        {
        case 'F':
        {
            int v = std::atoi(value);
            int tables = v == 0 ? 1 : v == 1 ? 8 : v == 2 ? 2 : 0;
            if (tables != 0)
            {
                options.faceTables = tables;
                knitErr("Using %d face prediction tables\n", tables);
            }
            break;
        }
        case 'V':
        {
            int v = std::atoi(value);
            int tables = v == 0 ? 1 : v == 1 ? 8 : 0;
            if (tables != 0)
            {
                options.vertexTables = tables;
                knitErr("Using %d vertex prediction tables\n", tables);
            }
            break;
        }
        case 'g':
            options.geometryBits = std::atoi(value);
            break;
        case 'o':
            options.writeObj = true;
            break;
        case 'p':
            options.permutationPath = value;
            break;
        default:
            break;
        }
    }
    return options;
}

int knitMain(const std::vector<std::string>& args)
{
    KnitOptionsT options = parseKnitOptions(args);
    if (args.size() < 2 || options.positional.size() < 2)
    {
        knitErr("%s", knitUsage());
        return kExitUsage;
    }
    try
    {
        if (options.positional.size() == 4)
        {
            return knitDecode(options);
        }
        return knitEncode(options);
    }
    catch (const std::bad_alloc&)
    {
        // A mesh or stream too large for the memory the run may use: the same code as the coder's
        // own failed allocations; partial output files are removed on the way out.
        knitErr("out of memory\n");
        return kCoderNoMemory;
    }
}

int knitEncode(const KnitOptionsT& options)
{
    if (!geometryBitsValid(options.geometryBits, kMaxEncodeGeometryBits))
    {
        return kExitBadOption;
    }
    const std::string& inputPath = options.positional[0];
    const std::string& streamPath = options.positional[1];
    CodecSettingsT settings = settingsOf(options);

    int formatId = formatIdByName(inputPath.c_str());
    knitErr("reading %s\n", inputPath.c_str());
    std::unique_ptr<GenericMeshReaderT> reader;
    if (openMeshFile(inputPath.c_str(), formatId, reader) != kOk || reader == nullptr)
    {
        knitErr("Can't open file\n");
        return kExitCantRead;
    }
    PolyMeshT mesh;
    if (mesh.build(*reader) != kOk || mesh.faces.empty())
    {
        knitErr("Can't build mesh\n");
        return kExitCantBuild;
    }
    reader.reset();
    mesh.geometryBits = settings.geometryBits;
    knitOut("vertices: %d\n", static_cast<int>(mesh.vertices.size()));
    knitOut("faces: %d\n", static_cast<int>(mesh.faces.size()));
    knitOut("boundaries: %d\n", static_cast<int>(mesh.boundaries.size()));

    std::vector<int32_t> inputIndex = inputIndices(mesh);
    int32_t inputVertices = inputVertexCount(mesh);
    if (!checkLayoutLimits(mesh, settings.faceTables))
    {
        return kExitTooLarge;
    }
    if (settings.geometryBits != 0 && !checkFinitePositions(mesh))
    {
        return kExitNotFinite;
    }
    // Keep the input positions for the raw geometry file (quantisation overwrites them).
    std::vector<float> positions;
    if (settings.geometryBits == 0)
    {
        positions.reserve(mesh.vertices.size() * 3);
        for (const PolyVertexT* v : mesh.vertices)
        {
            positions.insert(positions.end(), {v->x, v->y, v->z});
        }
    }

    EncodeReportT report;
    {
        FileOutputStreamT stream;
        if (!stream.open(streamPath))
        {
            knitErr("can't open file %s for writing\n", streamPath.c_str());
            return kExitUsage;
        }
        int result = encodeMesh(mesh, settings, stream, report);
        if (result != 0)
        {
            knitErr("can't encode the mesh (code %d)\n", result);
            return result == kChannelOverflow ? kExitTooLarge : kExitCheckFailed;
        }
        if (!stream.close())
        {
            knitErr("Error writing file %s\n", streamPath.c_str());
            return kExitWriteFailed;
        }
    }

    bool writeFailed = false;
    if (!options.permutationPath.empty())
    {
        PermutationT permutation = permutationOf(mesh, inputIndex, report.numberedVertices);
        if (writePermutationFile(options.permutationPath, inputVertices, permutation) != kOk)
        {
            writeFailed = true;
        }
    }

    PolyMeshT decoded(true, true, true);
    decoded.geometryBits = settings.geometryBits;
    std::vector<uint32_t> quantised;
    int decodeResult = 0;
    {
        FileInputStreamT stream;
        if (!stream.open(streamPath))
        {
            knitErr("can't open file %s for reading\n", streamPath.c_str());
            return kExitCantRead;
        }
        decodeResult = decodeStream(stream, settings, decoded, 0, &quantised);
    }

    if (settings.geometryBits == 0 && options.positional.size() >= 3)
    {
        // Positions in the decoder's vertex order: vertex k is the input vertex numbered k.
        std::vector<float> xyz(static_cast<size_t>(report.numberedVertices) * 3, 0.0f);
        for (size_t i = 0; i < mesh.vertices.size(); ++i)
        {
            int n = mesh.vertices[i]->number;
            if (n >= 1 && n <= report.numberedVertices)
            {
                for (int c = 0; c < 3; ++c)
                {
                    xyz[static_cast<size_t>(n - 1) * 3 + c] = positions[i * 3 + c];
                }
            }
        }
        int result = writeRawGeometry(options.positional[2], xyz.data(),
                                      static_cast<size_t>(report.numberedVertices));
        if (result == kFileNotFound)
        {
            return kExitCantBuild;
        }
        if (result != kOk)
        {
            writeFailed = true;
        }
    }

    knitErr("\ndecoded:\nvertices %d\nfaces %d\nboundaries %d\n", decoded.vertexCount,
            static_cast<int>(decoded.faces.size()), static_cast<int>(decoded.boundaries.size()));
    std::string why = decodeResult != 0
                          ? "the decoder failed with code " + std::to_string(decodeResult)
                          : compareDecoded(mesh, report, decoded, settings.geometryBits, quantised);
    if (!why.empty())
    {
        knitErr("self-check failed: %s\n", why.c_str());
        return kExitCheckFailed;
    }
    return writeFailed ? kExitWriteFailed : kExitOk;
}

int knitDecode(const KnitOptionsT& options)
{
    if (!geometryBitsValid(options.geometryBits, kMaxDecodeGeometryBits))
    {
        return kExitBadOption;
    }
    const std::string& streamPath = options.positional[1];
    CodecSettingsT settings = settingsOf(options);
    PolyMeshT decoded(true, true, true);
    decoded.geometryBits = settings.geometryBits;
    {
        FileInputStreamT stream;
        if (!stream.open(streamPath))
        {
            knitErr("can't open file %s for reading\n", streamPath.c_str());
            return kExitCantRead;
        }
        int result = decodeStream(stream, settings, decoded);
        if (result != 0)
        {
            return result;
        }
    }

    if (settings.geometryBits != 0)
    {
        if (decoded.attachDecodedPositions() != kOk)
        {
            knitErr("can't attach the decoded positions\n");
            return kCoderNoMemory;
        }
    }
    else
    {
        size_t count = static_cast<size_t>(decoded.vertexCount);
        std::vector<float> xyz;
        int result = readRawGeometry(options.positional[2], count, xyz);
        if (result == kFileNotFound)
        {
            return kExitUsage;
        }
        if (result != kOk)
        {
            return kExitShortGeometry;
        }
        std::vector<PolyVertexT*> records(count, nullptr);
        for (size_t k = 0; k < count; ++k)
        {
            records[k] = allocVertex();
            if (records[k] == nullptr)
            {
                for (size_t j = 0; j < k; ++j)
                {
                    releaseVertex(records[j]);
                }
                knitErr("can't allocate the vertices\n");
                return kCoderNoMemory;
            }
            records[k]->x = xyz[k * 3];
            records[k]->y = xyz[k * 3 + 1];
            records[k]->z = xyz[k * 3 + 2];
        }
        if (decoded.attachVertices(records.data(), static_cast<int>(count)) != kOk)
        {
            for (PolyVertexT* v : records)
            {
                releaseVertex(v);
            }
            return kCoderBadFace;
        }
        knitErr("decoded:\nvertices %d\nfaces %d\nboundaries %d\n", decoded.vertexCount,
                static_cast<int>(decoded.faces.size()),
                static_cast<int>(decoded.boundaries.size()));
    }

    IrrMeshInterface source(decoded);
    if (writeMeshFile(options.positional[3].c_str(),
                      options.writeObj ? kFormatObj : kFormatInventor, source,
                      FloatStyleT::kShortest) != kOk)
    {
        return kExitWriteFailed;
    }
    return kExitOk;
}

} // namespace knit
