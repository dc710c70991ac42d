#include "loom/bmp_capture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace loom
{
namespace
{

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

std::filesystem::path scratch(const std::string& name)
{
    // One directory per process and test: ctest runs the tests of this file side by side,
    // and each removes its directory when done.
    auto dir = std::filesystem::temp_directory_path() /
               ("loom_bmp_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    return dir / name;
}

TEST(BmpCapture, rowsArePaddedToFourBytes)
{
    EXPECT_EQ(bmpRowSize(641), 1924);
    EXPECT_EQ(bmpRowSize(640), 1920);
    EXPECT_EQ(bmpRowSize(1), 4);
    EXPECT_EQ(bmpRowSize(4), 12);
}

TEST(BmpCapture, headersDescribeA24BitBottomUpPicture)
{
    int width = 641, height = 3;
    std::vector<uint8_t> rows(size_t(bmpRowSize(width)) * height, 7);
    std::vector<uint8_t> file = bmpFile(width, height, rows);
    ASSERT_EQ(file.size(), 54u + 1924u * 3);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(le32(file, 2), file.size());
    EXPECT_EQ(le32(file, 6), 0u);   // reserved words
    EXPECT_EQ(le32(file, 10), 54u); // pixel offset
    EXPECT_EQ(le32(file, 14), 40u);
    EXPECT_EQ(le32(file, 18), 641u);
    EXPECT_EQ(le32(file, 22), 3u); // positive height: bottom-up
    EXPECT_EQ(le32(file, 26), 1u | 24u << 16);
    for (size_t at = 30; at < 54; at += 4)
    {
        EXPECT_EQ(le32(file, at), 0u) << "field at " << at;
    }
    EXPECT_TRUE(bmpFile(width, height, std::vector<uint8_t>(rows.size() - 1)).empty());
    EXPECT_TRUE(bmpFile(0, height, {}).empty());
}

TEST(BmpCapture, writtenPictureReadsBackWithTopLeftPixels)
{
    int width = 3, height = 2;
    std::vector<uint8_t> rows(size_t(bmpRowSize(width)) * height, 0);
    // Bottom row first, blue-green-red: the top-left pixel is in the second stored row.
    rows[size_t(bmpRowSize(width)) + 0] = 30; // blue
    rows[size_t(bmpRowSize(width)) + 1] = 20; // green
    rows[size_t(bmpRowSize(width)) + 2] = 10; // red
    auto path = scratch("round.bmp");
    ASSERT_TRUE(writeBmp(path.string(), width, height, rows));
    BmpImageT image;
    ASSERT_TRUE(readBmp(path.string(), image));
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    uint8_t rgb[3];
    image.pixel(0, 0, rgb);
    EXPECT_EQ(rgb[0], 10);
    EXPECT_EQ(rgb[1], 20);
    EXPECT_EQ(rgb[2], 30);
    image.pixel(0, 1, rgb);
    EXPECT_EQ(rgb[0], 0);
    std::filesystem::remove_all(path.parent_path());
}

TEST(BmpCapture, malformedPicturesAreNeitherWrittenNorRead)
{
    auto path = scratch("bad.bmp");
    EXPECT_FALSE(writeBmp(path.string(), 2, 2, std::vector<uint8_t>(3)));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(writeBmp((path.parent_path() / "missing" / "x.bmp").string(), 1, 1,
                          std::vector<uint8_t>(4)));

    ASSERT_TRUE(writeBmp(path.string(), 2, 2, std::vector<uint8_t>(16)));
    std::filesystem::resize_file(path, 60); // truncated pixel rows
    BmpImageT image;
    EXPECT_FALSE(readBmp(path.string(), image));
    EXPECT_FALSE(readBmp((path.parent_path() / "none.bmp").string(), image));
    std::filesystem::remove_all(path.parent_path());
}

} // namespace
} // namespace loom
