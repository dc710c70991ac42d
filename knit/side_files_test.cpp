#include "knit/side_files.h"

#include "knit/knit_codes.h"
#include "knit/knit_log.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace knit
{
namespace
{

namespace fs = std::filesystem;

class SideFiles : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("knit_side_files_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const char* name) const { return (dir_ / name).string(); }
    std::vector<uint8_t> bytesOf(const std::string& p) const
    {
        std::ifstream in(p, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_;
};

TEST_F(SideFiles, rawGeometryIsLittleEndianFloatsAndReadsBackExactly)
{
    std::vector<float> xyz = {1.0f, -2.5f, 1e-30f, 3.14159274f, 0.0f, -0.0f};
    ASSERT_EQ(writeRawGeometry(path("g.raw"), xyz.data(), 2), kOk);
    std::vector<uint8_t> bytes = bytesOf(path("g.raw"));
    ASSERT_EQ(bytes.size(), 24u);
    EXPECT_EQ(bytes[0], 0x00); // 1.0f = 0x3F800000, low byte first
    EXPECT_EQ(bytes[3], 0x3F);
    std::vector<float> back;
    ASSERT_EQ(readRawGeometry(path("g.raw"), 2, back), kOk);
    EXPECT_EQ(std::memcmp(back.data(), xyz.data(), 24), 0);
    // Only the temporary file's target is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(SideFiles, shortOrMissingGeometryFileIsReported)
{
    std::vector<float> xyz(9, 1.0f);
    ASSERT_EQ(writeRawGeometry(path("g.raw"), xyz.data(), 3), kOk);
    KnitLogCaptureT capture;
    std::vector<float> back;
    EXPECT_EQ(readRawGeometry(path("g.raw"), 4, back), kEndOfFile);
    EXPECT_EQ(capture.err, "geometry file " + path("g.raw") + " is too short\n");
    capture.err.clear();
    EXPECT_EQ(readRawGeometry(path("none.raw"), 1, back), kFileNotFound);
    EXPECT_EQ(capture.err, "file " + path("none.raw") + " not found\n");
    capture.err.clear();
    EXPECT_EQ(writeRawGeometry(path("no/such/dir.raw"), xyz.data(), 3), kFileNotFound);
    EXPECT_EQ(capture.err, "Can't open file " + path("no/such/dir.raw") + "\n");
}

TEST_F(SideFiles, permutationCountsTheLargerOfInputAndNumberedVertices)
{
    PermutationT p;
    p.vertexOrder = {2, 0, 1};
    p.faceOrder = {1, 0};
    p.entryCorners = {0, 3};
    // Five input vertices, three numbered: numbers 4 and 5 went to no vertex.
    ASSERT_EQ(writePermutationFile(path("p.bin"), 5, p), kOk);
    std::vector<uint8_t> bytes = bytesOf(path("p.bin"));
    ASSERT_EQ(bytes.size(), 4u * (2 + 5 + 2 + 2));
    EXPECT_EQ(bytes[0], 5);
    PermutationT back;
    ASSERT_EQ(readPermutationFile(path("p.bin"), back), kOk);
    EXPECT_EQ(back.vertexOrder, (std::vector<int32_t>{2, 0, 1, -1, -1}));
    EXPECT_EQ(back.faceOrder, p.faceOrder);
    EXPECT_EQ(back.entryCorners, p.entryCorners);

    // Split-off copies give more numbers than the input has vertices.
    p.vertexOrder = {0, 1, 2, 1};
    ASSERT_EQ(writePermutationFile(path("p.bin"), 3, p), kOk);
    ASSERT_EQ(readPermutationFile(path("p.bin"), back), kOk);
    EXPECT_EQ(back.vertexOrder, p.vertexOrder);
}

TEST_F(SideFiles, damagedPermutationFileIsReported)
{
    PermutationT p;
    p.vertexOrder = {0, 1, 2};
    p.faceOrder = {0};
    p.entryCorners = {1};
    ASSERT_EQ(writePermutationFile(path("p.bin"), 3, p), kOk);
    std::vector<uint8_t> bytes = bytesOf(path("p.bin"));
    KnitLogCaptureT capture;
    PermutationT back;
    for (size_t cut : {size_t{0}, size_t{6}, bytes.size() - 1})
    {
        std::ofstream(path("cut.bin"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(cut));
        EXPECT_EQ(readPermutationFile(path("cut.bin"), back), kBadSection) << cut;
    }
    bytes[3] = 0x80; // a negative vertex count
    std::ofstream(path("neg.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    EXPECT_EQ(readPermutationFile(path("neg.bin"), back), kBadSection);
    EXPECT_EQ(capture.err.find("bad permutation file "), 0u);

    capture.err.clear();
    EXPECT_EQ(writePermutationFile(path("no/such/p.bin"), 3, p), kFileNotFound);
    EXPECT_EQ(capture.err, "Can't create a permutation file " + path("no/such/p.bin") + "\n");
}

TEST_F(SideFiles, failedWritesAreReportedAndLeaveNoFile)
{
    // A file size limit stands in for a full disk: writes past it fail with EFBIG.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::vector<float> xyz(3 * 10000, 1.0f);
    PermutationT p;
    p.vertexOrder.assign(10000, 1);
    KnitLogCaptureT capture;
    int geometry = writeRawGeometry(path("g.raw"), xyz.data(), 10000);
    int permutation = writePermutationFile(path("p.bin"), 10000, p);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(geometry, kError);
    EXPECT_EQ(permutation, kError);
    EXPECT_EQ(capture.err, "Error writing file " + path("g.raw") + "\nError writing file " +
                               path("p.bin") + "\n");
    EXPECT_TRUE(fs::is_empty(dir_));
}

} // namespace
} // namespace knit
