#pragma once

// Byte streams buffered in 4096-byte blocks (over a file or over memory) and the bit sink and
// bit source that the arithmetic coder writes to and reads from. Bits fill bytes least
// significant bit first. Nothing here prints: callers report failures with their own messages.

#include "fileout/output_file.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace knit
{

// Byte output collected in a 4096-byte buffer; subclasses say where full buffers go.
class OutputStreamT
{
public:
    static constexpr size_t kBufferSize = 4096;

    OutputStreamT() = default;
    virtual ~OutputStreamT() = default;
    OutputStreamT(const OutputStreamT&) = delete;
    OutputStreamT& operator=(const OutputStreamT&) = delete;

    // Appends one byte. After a failed write further bytes are dropped (see failed()).
    void put(uint8_t byte)
    {
        if (used_ == kBufferSize)
        {
            drain();
        }
        buffer_[used_++] = byte;
    }
    // Appends n bytes.
    void putBytes(const void* data, size_t n);
    // Passes the buffered bytes on. Returns false once any write has failed.
    bool flush();
    // True once a write has failed (a full disk, for instance); the failure is sticky.
    bool failed() const { return failed_; }
    // Bytes handed to put so far.
    uint64_t bytesWritten() const { return written_ + used_; }

protected:
    // Writes n bytes to the destination; returns false on failure.
    virtual bool write(const uint8_t* data, size_t n) = 0;

private:
    void drain();

    uint8_t buffer_[kBufferSize];
    size_t used_ = 0;
    uint64_t written_ = 0;
    bool failed_ = false;
};

// Output into a byte vector (tests, fuzzers, benchmarks).
class MemoryOutputStreamT : public OutputStreamT
{
public:
    // The bytes written so far; call flush() first.
    const std::vector<uint8_t>& bytes() const { return bytes_; }

protected:
    bool write(const uint8_t* data, size_t n) override;

private:
    std::vector<uint8_t> bytes_;
};

// Output into a file, written to a temporary file beside the target and renamed onto it by
// close(), so that a failed run never leaves a half-written target behind. The target is created
// with read and write permission for everyone the umask allows.
class FileOutputStreamT : public OutputStreamT
{
public:
    FileOutputStreamT() = default;
    // Removes the temporary file if close() was not reached.
    ~FileOutputStreamT() override;

    // Creates the temporary file beside path (see OutputFileT: links are followed, devices and
    // pipes are written in place). Returns false (and keeps nothing) on failure.
    bool open(const std::string& path);
    // Flushes, closes and renames the temporary file onto the target. Returns false, and
    // removes the temporary file, if any write, the close or the rename failed.
    bool close();
    bool isOpen() const { return fd_ >= 0; }

protected:
    bool write(const uint8_t* data, size_t n) override;

private:
    OutputFileT output_;
    int fd_ = -1;
};

// Byte input read in 4096-byte blocks; subclasses say where the blocks come from.
class InputStreamT
{
public:
    static constexpr size_t kBufferSize = 4096;

    InputStreamT() = default;
    virtual ~InputStreamT() = default;
    InputStreamT(const InputStreamT&) = delete;
    InputStreamT& operator=(const InputStreamT&) = delete;

    // The next byte, or -1 at the end of the input (also after a read error).
    int get()
    {
        if (next_ == end_ && !refill())
        {
            return -1;
        }
        return *next_++;
    }
    // Reads up to n bytes; returns how many were read (fewer only at the end).
    size_t getBytes(void* data, size_t n);
    // True once a read has failed (as opposed to a plain end of input).
    bool failed() const { return failed_; }

protected:
    // Reads up to n bytes into data; returns the count, 0 at the end, -1 on error.
    virtual long read(uint8_t* data, size_t n) = 0;

private:
    bool refill();

    uint8_t buffer_[kBufferSize];
    const uint8_t* next_ = buffer_;
    const uint8_t* end_ = buffer_;
    bool failed_ = false;
    bool ended_ = false;
};

// Input from memory; the bytes are not copied and must outlive the stream.
class MemoryInputStreamT : public InputStreamT
{
public:
    MemoryInputStreamT(const uint8_t* data, size_t size)
        : data_(data)
        , size_(size)
    {
    }

protected:
    long read(uint8_t* data, size_t n) override;

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

// Input from a file opened in binary mode.
class FileInputStreamT : public InputStreamT
{
public:
    FileInputStreamT() = default;
    ~FileInputStreamT() override;

    // Opens path for reading; false when it cannot be opened.
    bool open(const std::string& path);
    void close();

protected:
    long read(uint8_t* data, size_t n) override;

private:
    int fd_ = -1;
};

// Each byte with its bit order reversed (a byte's first bit in the stream is its least
// significant one; the coder's runs of bits come most significant first).
constexpr std::array<uint8_t, 256> reversedBytes()
{
    std::array<uint8_t, 256> table{};
    for (int b = 0; b < 256; ++b)
    {
        int r = 0;
        for (int i = 0; i < 8; ++i)
        {
            r |= ((b >> i) & 1) << (7 - i);
        }
        table[static_cast<size_t>(b)] = static_cast<uint8_t>(r);
    }
    return table;
}
inline constexpr std::array<uint8_t, 256> kReversedBytes = reversedBytes();

// Packs bits into bytes, least significant bit first; a byte goes out when its eighth bit is in.
class BitSinkT
{
public:
    explicit BitSinkT(OutputStreamT& out)
        : out_(out)
    {
    }

    void putBit(int bit) { putBits(static_cast<uint32_t>(bit & 1), 1); }
    // Appends the low n bits of `bits` (0 <= n <= 16) in stream order, the first being the most
    // significant of them.
    void putBits(uint32_t bits, int n)
    {
        uint32_t reversed = (static_cast<uint32_t>(kReversedBytes[bits & 0xFF]) << 8) |
                            kReversedBytes[(bits >> 8) & 0xFF];
        current_ |= static_cast<uint64_t>(reversed >> (16 - n)) << filled_;
        filled_ += n;
        bits_ += static_cast<uint64_t>(n);
        while (filled_ >= 8)
        {
            out_.put(static_cast<uint8_t>(current_));
            current_ >>= 8;
            filled_ -= 8;
        }
    }
    // Appends `count` copies of one bit.
    void putRepeated(int bit, uint64_t count)
    {
        for (; count > 0;)
        {
            int n = count < 16 ? static_cast<int>(count) : 16;
            putBits(bit != 0 ? (1u << n) - 1 : 0, n);
            count -= static_cast<uint64_t>(n);
        }
    }
    // Writes the last partial byte with its remaining high bits zero (nothing if none).
    void flush();
    // Bits put so far.
    uint64_t bitCount() const { return bits_; }
    OutputStreamT& stream() { return out_; }

private:
    OutputStreamT& out_;
    uint64_t current_ = 0; // the filled_ (< 8 between calls) bits not yet written, first lowest
    int filled_ = 0;
    uint64_t bits_ = 0;
};

// Unpacks bits from bytes, least significant bit first. Past the end of the input it yields
// zero bits; once more than kMaxBitsPastEnd of those have been read the source is overrun: a
// valid stream never needs them, so the reader treats that as a bad file. Up to eight bytes are
// read ahead into a buffer that hands out runs of bits at once.
class BitSourceT
{
public:
    static constexpr uint64_t kMaxBitsPastEnd = 32;

    explicit BitSourceT(InputStreamT& in)
        : in_(in)
    {
    }

    int getBit() { return static_cast<int>(getBits(1)); }
    // The next n bits (0 <= n <= 16) in stream order, the first as the most significant.
    uint32_t getBits(int n)
    {
        if (n > count_)
        {
            refill();
        }
        uint32_t bits = static_cast<uint32_t>((buffer_ >> 32) >> (32 - n));
        buffer_ <<= n;
        if (n > count_)
        {
            pastEnd_ += static_cast<uint64_t>(n - count_);
            count_ = 0;
        }
        else
        {
            count_ -= n;
        }
        return bits;
    }
    // True once more than kMaxBitsPastEnd zero bits past the end have been read.
    bool overrun() const { return pastEnd_ > kMaxBitsPastEnd; }
    uint64_t bitsPastEnd() const { return pastEnd_; }

private:
    // Appends whole bytes from the input while they fit.
    void refill();

    InputStreamT& in_;
    uint64_t buffer_ = 0; // the next count_ bits from the most significant end; zeros below
    int count_ = 0;
    uint64_t pastEnd_ = 0;
};

} // namespace knit
