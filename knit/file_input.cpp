// Buffered reading of mesh files for the format handlers.

#include "knit/file_input.h"

#include <algorithm>
#include <cstring>

namespace knit
{

FileInputT::~FileInputT()
{
    close();
}

bool FileInputT::open(const char* path)
{
    close();
    file_ = std::fopen(path, "rb");
    if (file_ == nullptr)
    {
        return false;
    }
    // The size bounds every count read from the file; a stream that cannot seek has size 0
    // and so admits no count at all.
    size_ = 0;
    if (std::fseek(file_, 0, SEEK_END) == 0)
    {
        long end = std::ftell(file_);
        size_ = end > 0 ? end : 0;
    }
    std::fseek(file_, 0, SEEK_SET);
    pos_ = len_ = 0;
    base_ = 0;
    return true;
}

void FileInputT::close()
{
    if (file_ != nullptr)
    {
        std::fclose(file_);
        file_ = nullptr;
    }
    pos_ = len_ = 0;
    base_ = 0;
    size_ = 0;
}

bool FileInputT::refill()
{
    if (file_ == nullptr)
    {
        return false;
    }
    base_ += static_cast<int64_t>(len_);
    pos_ = 0;
    len_ = std::fread(buf_.data(), 1, buf_.size(), file_);
    return len_ > 0;
}

bool FileInputT::seek(int64_t offset)
{
    if (file_ == nullptr || offset < 0 || offset > size_)
    {
        return false;
    }
    if (offset >= base_ && offset <= base_ + static_cast<int64_t>(len_))
    {
        pos_ = static_cast<size_t>(offset - base_);
        return true;
    }
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0)
    {
        return false;
    }
    base_ = offset;
    pos_ = len_ = 0;
    return true;
}

bool FileInputT::read(void* out, size_t n)
{
    auto* dst = static_cast<unsigned char*>(out);
    while (n > 0)
    {
        if (pos_ == len_ && !refill())
        {
            return false;
        }
        size_t take = std::min(n, len_ - pos_);
        std::memcpy(dst, buf_.data() + pos_, take);
        pos_ += take;
        dst += take;
        n -= take;
    }
    return true;
}

bool FileInputT::readLine(std::string& line)
{
    line.clear();
    if (peek() == kEnd)
    {
        return false;
    }
    for (;;)
    {
        if (pos_ == len_ && !refill())
        {
            return true;
        }
        const unsigned char* start = buf_.data() + pos_;
        const void* nl = std::memchr(start, '\n', len_ - pos_);
        if (nl != nullptr)
        {
            size_t n = static_cast<size_t>(static_cast<const unsigned char*>(nl) - start);
            line.append(reinterpret_cast<const char*>(start), n);
            pos_ += n + 1;
            return true;
        }
        line.append(reinterpret_cast<const char*>(start), len_ - pos_);
        pos_ = len_;
    }
}

} // namespace knit
