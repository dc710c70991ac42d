// Complete-or-nothing output files: write a temporary beside the target, then rename.
#include "loom/file_output.h"

#include "loom/console.h"

#include <unistd.h>

namespace loom
{

AtomicFileT::~AtomicFileT()
{
    if (file_)
    {
        std::fclose(file_);
    }
}

bool AtomicFileT::open(const std::string& path)
{
    path_ = path;
    const int fd = output_.open(path);
    file_ = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!file_)
    {
        if (fd >= 0)
        {
            ::close(fd);
        }
        ConsoleT() << "cannot write " << path;
        return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
    return true;
}

void AtomicFileT::write(std::string_view bytes)
{
    if (file_ && !failed_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        failed_ = true;
}

bool AtomicFileT::commit()
{
    if (!file_)
        return false;
    bool ok = !failed_ && std::fflush(file_) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    ok = output_.finish(ok);
    if (!ok)
        ConsoleT() << "cannot write " << path_;
    return ok;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes)
{
    AtomicFileT file;
    if (!file.open(path))
        return false;
    file.write(bytes);
    return file.commit();
}

} // namespace loom
