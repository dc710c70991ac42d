// Replay main for the fuzz targets: feeds every file named on the command line (directories are
// walked) to LLVMFuzzerTestOneInput once, so that the corpus runs as a plain test without clang.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace
{

void runFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

int main(int argc, char** argv)
{
    size_t count = 0;
    for (int i = 1; i < argc; ++i)
    {
        std::filesystem::path root(argv[i]);
        if (std::filesystem::is_directory(root))
        {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
            {
                if (entry.is_regular_file())
                {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
            for (const auto& file : files)
            {
                runFile(file);
                ++count;
            }
        }
        else
        {
            runFile(root);
            ++count;
        }
    }
    std::fprintf(stderr, "replayed %zu inputs\n", count);
    return 0;
}
