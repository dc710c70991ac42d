// Whole-or-nothing output files: where the bytes of an output go (the target found through
// symbolic links, or the file itself when it is a device or a pipe) and the temporary file that
// is renamed over the target once complete.
#include "fileout/output_file.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace
{

// The kernel's own limit on the links followed while resolving one path.
constexpr int kMaxLinks = 40;

// The outcome of following the symbolic links of an output path.
enum class LinksT
{
    kResolved,
    // A link of the process file system (/dev/stdout, /dev/fd/N, /proc/self/fd/N): its text
    // names no file that could be replaced, and only opening the path itself reaches the file.
    kProcessLink,
    kEndless,
};

// True when the link at `path` lies in the process file system.
bool isProcessLink(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    struct statfs fs;
    return ::statfs(dir.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// `path` with its symbolic links followed to a name that is not a link (existing or not).
LinksT followLinks(const std::string& path, std::string& resolved)
{
    resolved = path;
    std::vector<char> text(4096);
    for (int i = 0; i <= kMaxLinks; ++i)
    {
        struct stat status;
        if (::lstat(resolved.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
        {
            return LinksT::kResolved;
        }
        if (isProcessLink(resolved))
        {
            return LinksT::kProcessLink;
        }
        const ssize_t n = ::readlink(resolved.c_str(), text.data(), text.size());
        if (n <= 0 || size_t(n) >= text.size())
        {
            return LinksT::kEndless;
        }
        std::string link(text.data(), size_t(n));
        if (link[0] != '/')
        {
            // A relative link is read from the directory that holds it.
            const size_t slash = resolved.rfind('/');
            link =
                (slash == std::string::npos ? std::string() : resolved.substr(0, slash + 1)) + link;
        }
        resolved = link;
    }
    return LinksT::kEndless;
}

// Temporary files of outputs in progress, which a terminating signal removes before it ends the
// process: an interrupted run leaves no stray partial file beside its target. Slots are claimed
// and released with atomics, so that the handler reads only complete names.
struct PendingSlotT
{
    std::atomic<bool> claimed{false};
    std::atomic<bool> ready{false};
    char path[4096] = {};
};
constexpr size_t kPendingSlots = 32;
PendingSlotT pendingSlots[kPendingSlots];
constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void removePendingAndRaise(int signal)
{
    for (PendingSlotT& slot : pendingSlots)
    {
        if (slot.ready.load(std::memory_order_acquire))
        {
            ::unlink(slot.path);
        }
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Installs the handler for the signals whose default action ends the process, leaving those
// that the program handles or ignores itself.
void installSignalCleanup()
{
    static std::once_flag once;
    std::call_once(once,
                   []
                   {
                       for (int signal : kCleanedSignals)
                       {
                           struct sigaction current;
                           if (::sigaction(signal, nullptr, &current) != 0 ||
                               current.sa_handler != SIG_DFL)
                           {
                               continue;
                           }
                           struct sigaction action = {};
                           action.sa_handler = removePendingAndRaise;
                           sigemptyset(&action.sa_mask);
                           ::sigaction(signal, &action, nullptr);
                       }
                   });
}

// Registers a temporary file for removal by a terminating signal; returns its slot, or -1 when
// every slot is taken or the name is too long (the file is then only removed on a normal end).
int registerPending(const std::string& temporary)
{
    if (temporary.size() >= sizeof(PendingSlotT::path))
    {
        return -1;
    }
    installSignalCleanup();
    for (size_t i = 0; i < kPendingSlots; ++i)
    {
        PendingSlotT& slot = pendingSlots[i];
        if (!slot.claimed.exchange(true, std::memory_order_acq_rel))
        {
            std::memcpy(slot.path, temporary.c_str(), temporary.size() + 1);
            slot.ready.store(true, std::memory_order_release);
            return int(i);
        }
    }
    return -1;
}

void releasePending(int index)
{
    if (index >= 0)
    {
        pendingSlots[size_t(index)].ready.store(false, std::memory_order_release);
        pendingSlots[size_t(index)].claimed.store(false, std::memory_order_release);
    }
}

// Gives the new file the owner and group of the file it replaces where the user may (the
// superuser always; others only a group they belong to), as writing the old file would keep them.
// Where it may not, the file stays the user's, as any file the user creates.
void takeOverOwnership(int fd, uid_t owner, gid_t group)
{
    if (::fchown(fd, owner, group) != 0)
    {
        [[maybe_unused]] const int groupKept = ::fchown(fd, uid_t(-1), group);
    }
}

mode_t defaultMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

OutputTargetT findOutputTarget(const std::string& path)
{
    OutputTargetT target;
    target.mode = defaultMode();
    if (path.empty())
    {
        target.writable = false;
        return target;
    }
    switch (followLinks(path, target.path))
    {
    case LinksT::kResolved:
        break;
    case LinksT::kProcessLink:
        // Written as a plain open would write it: whatever the process's descriptor leads to.
        target.path = path;
        target.inPlace = true;
        return target;
    case LinksT::kEndless:
        target.path = path;
        target.writable = false;
        return target;
    }
    struct stat status;
    if (::stat(target.path.c_str(), &status) != 0)
    {
        // Nothing there yet (or an unreachable directory, which the create reports).
        return target;
    }
    if (S_ISDIR(status.st_mode))
    {
        target.writable = false;
    }
    else if (S_ISREG(status.st_mode))
    {
        target.mode = status.st_mode & 0777;
        target.owner = status.st_uid;
        target.group = status.st_gid;
        target.replacesFile = true;
        target.writable = ::access(target.path.c_str(), W_OK) == 0;
    }
    else
    {
        target.inPlace = true;
    }
    return target;
}

bool canStartOutput(const std::string& path)
{
    const OutputTargetT target = findOutputTarget(path);
    if (!target.writable || target.inPlace)
    {
        return target.writable;
    }
    OutputFileT probe;
    const int fd = probe.open(path);
    if (fd < 0)
    {
        return false;
    }
    ::close(fd);
    return true;
}

OutputFileT::~OutputFileT()
{
    endTemporary(true);
}

void OutputFileT::endTemporary(bool remove)
{
    if (remove && !temporary_.empty())
    {
        std::remove(temporary_.c_str());
    }
    temporary_.clear();
    releasePending(pending_);
    pending_ = -1;
}

int OutputFileT::open(const std::string& path)
{
    endTemporary(true);
    openInPlace_ = false;
    target_ = findOutputTarget(path);
    if (!target_.writable)
    {
        return -1;
    }
    if (target_.inPlace)
    {
        const int fd =
            ::open(target_.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, target_.mode);
        openInPlace_ = fd >= 0;
        return fd;
    }
    std::string pattern = target_.path + ".tmpXXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
    {
        return -1;
    }
    temporary_ = name.data();
    pending_ = registerPending(temporary_);
    if (target_.replacesFile)
    {
        takeOverOwnership(fd, target_.owner, target_.group);
    }
    // mkstemp makes the file private to its owner; it gets the target's permissions instead.
    if (::fchmod(fd, target_.mode) != 0)
    {
        ::close(fd);
        endTemporary(true);
        return -1;
    }
    return fd;
}

bool OutputFileT::finish(bool written)
{
    if (openInPlace_)
    {
        openInPlace_ = false;
        return written;
    }
    if (temporary_.empty())
    {
        return false;
    }
    const bool done = written && std::rename(temporary_.c_str(), target_.path.c_str()) == 0;
    endTemporary(!done);
    return done;
}

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
