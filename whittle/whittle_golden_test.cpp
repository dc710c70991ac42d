// Byte-for-byte comparison of whittle's output on a committed mesh with the committed file.
// Run with UPDATE_GOLDEN=1 to rewrite the expected file after an intended change.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace
{

namespace fs = std::filesystem;

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(WhittleGolden, irregularTorusFileIsUnchanged)
{
    const fs::path data = fs::path(MESHWORK_SOURCE_DIR) / "testdata" / "whittle";
    const fs::path out =
        fs::temp_directory_path() / ("whittle_golden_" + std::to_string(::getpid()) + ".pm");
    const std::string command = "'" WHITTLE_BINARY "' '" + (data / "torus_irregular.obj").string() +
                                "' '" + out.string() + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string got = slurp(out);
    fs::remove(out);
    const fs::path expected = data / "torus_irregular.pm";
    if (std::getenv("UPDATE_GOLDEN") != nullptr)
    {
        std::ofstream(expected, std::ios::binary) << got;
    }
    EXPECT_EQ(got, slurp(expected));
}

} // namespace
