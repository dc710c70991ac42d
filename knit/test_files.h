#pragma once

// Test support for knit: scratch files, and a small writer of binary Inventor files (big-endian
// words, padded strings, node headers) for the reader tests and the fuzz seeds.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace knit::test
{

// A directory made for this process, removed with its contents when the process ends.
class ProcessScratchDirT
{
public:
    explicit ProcessScratchDirT(const std::string& prefix)
    {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr)
        {
            path_ = pattern;
        }
    }
    ~ProcessScratchDirT()
    {
        if (!path_.empty())
        {
            std::filesystem::remove_all(path_);
        }
    }
    ProcessScratchDirT(const ProcessScratchDirT&) = delete;
    ProcessScratchDirT& operator=(const ProcessScratchDirT&) = delete;

    // The directory, or /tmp when it could not be made.
    std::string path() const { return path_.empty() ? "/tmp" : path_; }

private:
    std::string path_;
};

// A fresh scratch directory for this process (created once, removed at exit).
inline std::string scratchDir()
{
    static const ProcessScratchDirT dir("knit-test");
    return dir.path();
}

inline std::string writeFile(const std::string& name, const std::string& bytes)
{
    std::string path = scratchDir() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return path;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

#ifdef KNIT_SOURCE_DIR
inline std::string sourcePath(const std::string& relative)
{
    return std::string(KNIT_SOURCE_DIR) + "/" + relative;
}
#endif

// Builds a binary Inventor file word by word.
class BinaryInventorT
{
public:
    explicit BinaryInventorT(bool v21 = true)
    {
        bytes = v21 ? "#Inventor V2.1 binary  \n" : "#Inventor V2.0 binary  \n";
    }

    BinaryInventorT& word(uint32_t w)
    {
        for (int shift = 24; shift >= 0; shift -= 8)
        {
            bytes.push_back(static_cast<char>((w >> shift) & 0xFF));
        }
        return *this;
    }
    BinaryInventorT& real(float f)
    {
        uint32_t w;
        static_assert(sizeof w == sizeof f);
        __builtin_memcpy(&w, &f, 4);
        return word(w);
    }
    BinaryInventorT& string(const std::string& s)
    {
        word(static_cast<uint32_t>(s.size()));
        bytes += s;
        while (bytes.size() % 4 != 0)
        {
            bytes.push_back('\0');
        }
        return *this;
    }
    // A node header; groups (children >= 0) get flag 2 and the children count.
    BinaryInventorT& node(const std::string& name, uint32_t fields, int children = -1)
    {
        string(name);
        word(children >= 0 ? 2 : 0);
        word(fields);
        if (children >= 0)
        {
            word(static_cast<uint32_t>(children));
        }
        return *this;
    }
    BinaryInventorT& points(const std::vector<float>& xyz)
    {
        node("Coordinate3", 1).string("point").word(static_cast<uint32_t>(xyz.size() / 3));
        for (float f : xyz)
        {
            real(f);
        }
        return *this;
    }
    BinaryInventorT& coordIndex(const std::vector<int32_t>& indices)
    {
        node("IndexedFaceSet", 1).string("coordIndex").word(static_cast<uint32_t>(indices.size()));
        for (int32_t i : indices)
        {
            word(static_cast<uint32_t>(i));
        }
        return *this;
    }

    std::string bytes;
};

} // namespace knit::test
