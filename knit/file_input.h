#pragma once

// Buffered reading of a mesh file for the format handlers: byte peeks, positions, seeks, whole
// lines and bounded raw reads, with the file size known so that counts read from a file can be
// checked against the bytes that remain.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace knit
{

class FileInputT
{
public:
    static constexpr int kEnd = -1;

    FileInputT() = default;
    ~FileInputT();
    FileInputT(const FileInputT&) = delete;
    FileInputT& operator=(const FileInputT&) = delete;

    // Opens path "rb"; false when it cannot be opened.
    bool open(const char* path);
    void close();
    bool isOpen() const { return file_ != nullptr; }

    // Next byte without taking it, kEnd at the end of the file.
    int peek()
    {
        if (pos_ < len_)
        {
            return buf_[pos_];
        }
        return refill() ? buf_[pos_] : kEnd;
    }
    // Takes the next byte, kEnd at the end of the file.
    int get()
    {
        int c = peek();
        if (c != kEnd)
        {
            ++pos_;
        }
        return c;
    }
    // Offset of the next byte.
    int64_t tell() const { return base_ + static_cast<int64_t>(pos_); }
    // Moves to an offset within the file; false when it lies outside.
    bool seek(int64_t offset);
    int64_t size() const { return size_; }
    int64_t remaining() const { return size_ - tell(); }
    // Reads exactly n bytes; false (position unspecified) when fewer remain.
    bool read(void* out, size_t n);
    // Reads the next line without its "\n"; false at the end of the file.
    bool readLine(std::string& line);

private:
    bool refill();

    FILE* file_ = nullptr;
    std::vector<unsigned char> buf_ = std::vector<unsigned char>(65536);
    size_t pos_ = 0;
    size_t len_ = 0;
    int64_t base_ = 0; // file offset of buf_[0]
    int64_t size_ = 0;
};

} // namespace knit
