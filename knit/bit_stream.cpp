// Buffered byte streams over files and memory, and the bit sink's final partial byte. The file
// output goes to a temporary file that close() renames onto the target.

#include "knit/bit_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace knit
{

void OutputStreamT::drain()
{
    if (used_ > 0 && !failed_ && !write(buffer_, used_))
    {
        failed_ = true;
    }
    written_ += used_;
    used_ = 0;
}

void OutputStreamT::putBytes(const void* data, size_t n)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (n > 0)
    {
        if (used_ == kBufferSize)
        {
            drain();
        }
        size_t chunk = std::min(n, kBufferSize - used_);
        std::memcpy(buffer_ + used_, bytes, chunk);
        used_ += chunk;
        bytes += chunk;
        n -= chunk;
    }
}

bool OutputStreamT::flush()
{
    drain();
    return !failed_;
}

bool MemoryOutputStreamT::write(const uint8_t* data, size_t n)
{
    bytes_.insert(bytes_.end(), data, data + n);
    return true;
}

FileOutputStreamT::~FileOutputStreamT()
{
    if (fd_ >= 0)
    {
        ::close(fd_);
    }
}

bool FileOutputStreamT::open(const std::string& path)
{
    if (fd_ >= 0)
    {
        return false;
    }
    fd_ = output_.open(path);
    return fd_ >= 0;
}

bool FileOutputStreamT::close()
{
    if (fd_ < 0)
    {
        return false;
    }
    bool ok = flush();
    if (::close(fd_) != 0)
    {
        ok = false;
    }
    fd_ = -1;
    return output_.finish(ok);
}

bool FileOutputStreamT::write(const uint8_t* data, size_t n)
{
    if (fd_ < 0)
    {
        return false;
    }
    while (n > 0)
    {
        ssize_t done = ::write(fd_, data, n);
        if (done < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            return false;
        }
        data += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

bool InputStreamT::refill()
{
    if (ended_)
    {
        return false;
    }
    long n = read(buffer_, kBufferSize);
    if (n <= 0)
    {
        failed_ = n < 0;
        ended_ = true;
        return false;
    }
    next_ = buffer_;
    end_ = buffer_ + n;
    return true;
}

size_t InputStreamT::getBytes(void* data, size_t n)
{
    uint8_t* out = static_cast<uint8_t*>(data);
    size_t done = 0;
    while (done < n)
    {
        if (next_ == end_ && !refill())
        {
            break;
        }
        size_t chunk = std::min(n - done, static_cast<size_t>(end_ - next_));
        std::memcpy(out + done, next_, chunk);
        next_ += chunk;
        done += chunk;
    }
    return done;
}

long MemoryInputStreamT::read(uint8_t* data, size_t n)
{
    size_t chunk = std::min(n, size_ - offset_);
    if (chunk > 0)
    {
        std::memcpy(data, data_ + offset_, chunk);
    }
    offset_ += chunk;
    return static_cast<long>(chunk);
}

FileInputStreamT::~FileInputStreamT()
{
    close();
}

bool FileInputStreamT::open(const std::string& path)
{
    close();
    fd_ = ::open(path.c_str(), O_RDONLY);
    return fd_ >= 0;
}

void FileInputStreamT::close()
{
    if (fd_ >= 0)
    {
        ::close(fd_);
        fd_ = -1;
    }
}

long FileInputStreamT::read(uint8_t* data, size_t n)
{
    if (fd_ < 0)
    {
        return -1;
    }
    for (;;)
    {
        ssize_t done = ::read(fd_, data, n);
        if (done < 0 && errno == EINTR)
        {
            continue;
        }
        return static_cast<long>(done);
    }
}

void BitSinkT::flush()
{
    if (filled_ > 0)
    {
        out_.put(static_cast<uint8_t>(current_));
        current_ = 0;
        filled_ = 0;
    }
}

void BitSourceT::refill()
{
    while (count_ <= 56)
    {
        int byte = in_.get();
        if (byte < 0)
        {
            return;
        }
        buffer_ |= static_cast<uint64_t>(kReversedBytes[static_cast<size_t>(byte)])
                   << (56 - count_);
        count_ += 8;
    }
}

} // namespace knit
