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
    std::string pattern = path + ".tmpXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0)
    {
        return false;
    }
    // mkstemp creates the file private to the user; give it the mode an ordinary create would.
    const mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0666 & ~mask) == 0;
    size_t done = 0;
    while (ok && done < bytes.size())
    {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
        {
            ok = false;
            break;
        }
        done += size_t(n);
    }
    if (::close(fd) != 0)
    {
        ok = false;
    }
    if (ok && std::rename(name.data(), path.c_str()) != 0)
    {
        ok = false;
    }
    if (!ok)
    {
        std::remove(name.data());
    }
    return ok;
}
