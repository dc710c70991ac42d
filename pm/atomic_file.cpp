// Whole-or-nothing output of the progressive mesh and transform files: the bytes go to the file
// an OutputFileT opens and are renamed into place only when every write succeeded.
#include "pm/atomic_file.h"

#include <unistd.h>

bool writeFileAtomically(const std::string& path, std::string_view bytes)
{
    AtomicFileWriterT file(path);
    file.write(bytes);
    return file.commit();
}

AtomicFileWriterT::AtomicFileWriterT(const std::string& path)
{
    fd_ = output_.open(path);
}

AtomicFileWriterT::~AtomicFileWriterT()
{
    if (fd_ >= 0)
    {
        ::close(fd_);
    }
}

void AtomicFileWriterT::write(std::string_view bytes)
{
    size_t done = 0;
    while (ok() && done < bytes.size())
    {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
        {
            ok_ = false;
            break;
        }
        done += size_t(n);
    }
}

bool AtomicFileWriterT::commit()
{
    if (fd_ < 0)
    {
        return false;
    }
    bool written = ok_;
    if (::close(fd_) != 0)
    {
        written = false;
    }
    fd_ = -1;
    return output_.finish(written);
}
