// Whole-or-nothing output: a temporary file beside the target, renamed when complete, so that a
// failed or interrupted run never leaves a half-written file under the target's name.
#include "pm/atomic_file.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool writeFileAtomically(const std::string& path, std::string_view bytes)
{
    AtomicFileWriterT file(path);
    file.write(bytes);
    return file.commit();
}

AtomicFileWriterT::AtomicFileWriterT(const std::string& path)
    : path_(path)
{
    std::string pattern = path + ".tmpXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkstemp(name.data());
    if (fd_ < 0)
    {
        return;
    }
    temporary_ = name.data();
    // mkstemp creates the file private to the user; give it the mode an ordinary create would.
    const mode_t mask = umask(0);
    umask(mask);
    ok_ = fchmod(fd_, 0666 & ~mask) == 0;
}

AtomicFileWriterT::~AtomicFileWriterT()
{
    if (fd_ >= 0)
    {
        ::close(fd_);
        std::remove(temporary_.c_str());
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
    bool done = ok_;
    if (::close(fd_) != 0)
    {
        done = false;
    }
    fd_ = -1;
    if (done && std::rename(temporary_.c_str(), path_.c_str()) != 0)
    {
        done = false;
    }
    if (!done)
    {
        std::remove(temporary_.c_str());
    }
    return done;
}
