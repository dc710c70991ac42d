// The mesh file layer: the handler base (temporary-file writing, valences, float text), the
// format registry with detection, the generic reading interface and the writing path.

#include "knit/mesh_format.h"

#include "knit/inventor_format.h"
#include "knit/knit_codes.h"
#include "knit/knit_log.h"
#include "knit/obj_format.h"

#include <charconv>
#include <cstring>
#include <unistd.h>

namespace knit
{

MeshFormatT::~MeshFormatT()
{
    if (file_ != nullptr)
    {
        std::fclose(file_);
        file_ = nullptr;
    }
    // A write that never reached finishWrite leaves nothing behind: output_ removes its
    // temporary file.
}

bool MeshFormatT::acceptValence(int v)
{
    if (fixedValence_ != 0 && v != fixedValence_)
    {
        return false;
    }
    acceptedValence_ = v;
    return true;
}

int MeshFormatT::openWriteFile(const char* path)
{
    const int fd = output_.open(path);
    if (fd < 0)
    {
        return kFileNotFound;
    }
    file_ = fdopen(fd, "wb");
    if (file_ == nullptr)
    {
        ::close(fd);
        output_.finish(false);
        return kFileNotFound;
    }
    writing_ = true;
    return kOk;
}

int MeshFormatT::finishWrite()
{
    if (file_ == nullptr || !writing_)
    {
        return kError;
    }
    bool ok = std::fflush(file_) == 0 && std::ferror(file_) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    writing_ = false;
    return output_.finish(ok) ? kOk : kError;
}

void MeshFormatT::formatFloat(float v, char* buf) const
{
    if (floatStyle_ == FloatStyleT::kShortest)
    {
        auto result = std::to_chars(buf, buf + 47, v);
        *result.ptr = '\0';
        return;
    }
    std::snprintf(buf, 48, "%f", static_cast<double>(v));
}

const MeshFormatT* formatPrototype(int formatId)
{
    static const InventorFormatT inventor;
    static const ObjFormatT obj;
    switch (formatId)
    {
    case kFormatInventor:
    case kFormatInventorAlt:
        return &inventor;
    case kFormatObj:
        return &obj;
    default:
        return nullptr;
    }
}

int formatIdByName(const char* path)
{
    size_t n = std::strlen(path);
    if (n >= 3 && std::strcmp(path + n - 3, "obj") == 0)
    {
        return kFormatObj;
    }
    return -1;
}

int detectFormat(const char* path, int* formatId)
{
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr)
    {
        return kFileNotFound;
    }
    unsigned char bytes[256];
    size_t n = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    if (n == 0)
    {
        return kFileNotFound;
    }
    for (int id = 0; id < kFormatCount; ++id)
    {
        const MeshFormatT* proto = formatPrototype(id);
        if (proto != nullptr && proto->probe(bytes, static_cast<int>(n)) > 0)
        {
            *formatId = id;
            return kOk;
        }
    }
    return kUnknownFormat;
}

int openMeshFile(const char* path, int formatId, std::unique_ptr<GenericMeshReaderT>& reader)
{
    reader.reset();
    if (formatId == -1)
    {
        int rc = detectFormat(path, &formatId);
        if (rc != kOk)
        {
            return rc;
        }
    }
    if (formatId < 0 || formatId >= kFormatCount)
    {
        return kUnknownFormat;
    }
    const MeshFormatT* proto = formatPrototype(formatId);
    if (proto == nullptr)
    {
        return kError;
    }
    std::unique_ptr<MeshFormatT> handler = proto->create();
    int rc = handler->openRead(path);
    if (rc != kOk)
    {
        return rc;
    }
    reader = std::make_unique<GenericMeshReaderT>(std::move(handler));
    return kOk;
}

GenericMeshReaderT::GenericMeshReaderT(std::unique_ptr<MeshFormatT> handler)
    : handler_(std::move(handler))
{
}

GenericMeshReaderT::~GenericMeshReaderT() = default;

int GenericMeshReaderT::vertexCountHint()
{
    if (section_ != kSectionVertices)
    {
        if (handler_->seekSection(kSectionVertices) != kOk)
        {
            return -1;
        }
        section_ = kSectionVertices;
    }
    return handler_->countHint(kSectionVertices);
}

int GenericMeshReaderT::faceCountHint()
{
    if (section_ != kSectionFaces)
    {
        if (handler_->seekSection(kSectionFaces) != kOk)
        {
            return -1;
        }
        section_ = kSectionFaces;
    }
    return handler_->countHint(kSectionFaces);
}

bool GenericMeshReaderT::nextVertex(float xyz[3])
{
    if (vertexDone_)
    {
        return false;
    }
    if (section_ != kSectionVertices)
    {
        if (handler_->seekSection(kSectionVertices) != kOk)
        {
            knitErr("vertices not found\n");
            vertexDone_ = true;
            return false;
        }
        section_ = kSectionVertices;
    }
    int rc = handler_->readVertex(xyz);
    if (rc == kOk)
    {
        return true;
    }
    if (rc != kSectionNotFound)
    {
        knitErr("error reading vertex\n");
        failed_ = true;
    }
    vertexDone_ = true;
    return false;
}

bool GenericMeshReaderT::nextFace(std::vector<int32_t>& indices)
{
    indices.clear();
    if (faceDone_)
    {
        return false;
    }
    if (section_ != kSectionFaces)
    {
        if (handler_->seekSection(kSectionFaces) != kOk)
        {
            knitErr("faces not found\n");
            faceDone_ = true;
            return false;
        }
        section_ = kSectionFaces;
    }
    int rc = handler_->readFace(indices);
    if (rc == kOk)
    {
        return true;
    }
    if (rc != kSectionNotFound)
    {
        knitErr("error reading face\n");
        failed_ = true;
    }
    indices.clear();
    faceDone_ = true;
    return false;
}

int GenericMeshReaderT::faceSize() const
{
    return handler_->lastFaceSize();
}

int writeMeshFile(const char* path, int formatId, MeshSourceT& source, FloatStyleT style)
{
    const MeshFormatT* proto = formatPrototype(formatId);
    if (proto == nullptr)
    {
        knitErr("Error writing file\n");
        return formatId < 0 || formatId >= kFormatCount ? kUnknownFormat : kError;
    }
    std::unique_ptr<MeshFormatT> handler = proto->create();
    handler->setFloatStyle(style);
    int rc = handler->openWrite(path, formatId);
    const int faceCount = source.faceCount();
    if (rc == kOk && faceCount > 0 && !handler->acceptValence(source.faceValence(0)))
    {
        knitErr("format doesn't support faces with %d vertices\n", source.faceValence(0));
        return kUnknownFormat;
    }
    if (rc == kOk)
    {
        rc = handler->beginWriteSection(kSectionVertices, source.vertexCount());
    }
    float xyz[3];
    while (rc == kOk && source.nextVertex(xyz))
    {
        rc = handler->writeVertex(xyz);
    }
    if (rc == kOk)
    {
        rc = handler->endWriteSection(kSectionVertices);
    }
    if (rc == kOk)
    {
        rc = handler->beginWriteSection(kSectionFaces, faceCount);
    }
    std::vector<int32_t> indices;
    while (rc == kOk && source.nextFace(indices))
    {
        rc = handler->writeFace(indices.data(), static_cast<int>(indices.size()));
    }
    if (rc == kOk)
    {
        rc = handler->endWriteSection(kSectionFaces);
    }
    if (rc == kOk)
    {
        rc = handler->finishWrite();
    }
    if (rc != kOk)
    {
        knitErr("Error writing file\n");
    }
    return rc;
}

} // namespace knit
