// Temporary-file-and-rename output for ripple's destination files.
#include "ripple/ripple_output.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace ripple
{

TemporaryOutputT::TemporaryOutputT(const std::string& target)
    : target_(target)
{
    const std::filesystem::path targetPath(target);
    if (!targetPath.has_filename())
    {
        return;
    }
    const std::filesystem::path dir = targetPath.parent_path();
    // Built by appending: g++ 12 warns falsely (-Wrestrict) on the chained operator+ form.
    std::string stem = ".";
    stem += targetPath.filename().string();
    stem += ".ripple-";
    stem += std::to_string(static_cast<long>(::getpid()));
    stem += '-';
    // O_EXCL makes the name ours; the mode follows the umask like any newly created file.
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        const std::string candidate = (dir / (stem + std::to_string(attempt) + ".tmp")).string();
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
        {
            ::close(fd);
            path_ = candidate;
            return;
        }
        if (errno != EEXIST)
        {
            return;
        }
    }
}

TemporaryOutputT::~TemporaryOutputT()
{
    if (!path_.empty() && !committed_)
    {
        std::remove(path_.c_str());
    }
}

bool TemporaryOutputT::commit()
{
    if (path_.empty() || committed_)
    {
        return committed_;
    }
    committed_ = std::rename(path_.c_str(), target_.c_str()) == 0;
    return committed_;
}

bool writeWholeFile(const std::string& target, const std::string& bytes)
{
    TemporaryOutputT output(target);
    if (!output.created())
    {
        return false;
    }
    std::FILE* file = std::fopen(output.path().c_str(), "wb");
    if (file == nullptr)
    {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed && output.commit();
}

} // namespace ripple
