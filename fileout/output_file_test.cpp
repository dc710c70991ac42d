#include "fileout/output_file.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

namespace fs = std::filesystem;

// A fresh directory for one test, removed with everything in it afterwards.
class OutputFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "output_file_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string at(const std::string& name) const { return (dir_ / name).string(); }

    // Writes `bytes` through an OutputFileT; false when opening, writing or finishing failed.
    static bool writeThrough(const std::string& path, const std::string& bytes)
    {
        OutputFileT output;
        const int fd = output.open(path);
        if (fd < 0)
        {
            return false;
        }
        const bool written = ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
        return output.finish(::close(fd) == 0 && written);
    }

    static std::string contents(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static void put(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    // The names in the directory, to see that no temporary file was left behind.
    size_t entries() const
    {
        return size_t(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    fs::path dir_;
};

TEST_F(OutputFileTest, replacesRegularFileKeepingItsPermissions)
{
    const std::string path = at("out.txt");
    put(path, "old contents");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);

    EXPECT_TRUE(writeThrough(path, "new"));
    EXPECT_EQ(contents(path), "new");
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(entries(), 1u);

    // A new file gets what a plain create gives under the umask.
    const mode_t mask = ::umask(022);
    EXPECT_TRUE(writeThrough(at("fresh.txt"), "x"));
    ::umask(mask);
    ASSERT_EQ(::stat(at("fresh.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST_F(OutputFileTest, replacedFileKeepsItsOwner)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "only the superuser may give a file to another user";
    }
    const std::string path = at("theirs.txt");
    put(path, "old contents");
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(writeThrough(path, "new"));
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_gid, 65534u);
    EXPECT_EQ(contents(path), "new");
}

TEST_F(OutputFileTest, failedOutputLeavesTargetAndNoTemporary)
{
    const std::string path = at("out.txt");
    put(path, "old contents");
    {
        OutputFileT output;
        const int fd = output.open(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "half", 4), 4);
        ::close(fd);
        EXPECT_FALSE(output.finish(false));
    }
    {
        // Abandoned without finishing, as when an error ends a run.
        OutputFileT output;
        const int fd = output.open(path);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    EXPECT_EQ(contents(path), "old contents");
    EXPECT_EQ(entries(), 1u);

    OutputFileT unopened;
    EXPECT_FALSE(unopened.finish(true));
}

TEST_F(OutputFileTest, terminatingSignalRemovesPendingTemporary)
{
    const std::string path = at("out.txt");
    put(path, "old contents");
    for (int signal : {SIGTERM, SIGINT})
    {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
        {
            OutputFileT output;
            const int fd = output.open(path);
            if (fd < 0 || ::write(fd, "half", 4) != 4)
            {
                ::_exit(2);
            }
            ::raise(signal);
            ::_exit(3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(contents(path), "old contents");
        EXPECT_EQ(entries(), 1u);
    }
}

TEST_F(OutputFileTest, writesThroughSymbolicLinks)
{
    fs::create_directory(dir_ / "data");
    put(at("data/real.txt"), "old");
    ASSERT_EQ(::chmod(at("data/real.txt").c_str(), 0600), 0);
    // A relative link, reached through a second link, into another directory.
    fs::create_symlink("data/real.txt", dir_ / "link.txt");
    fs::create_symlink("link.txt", dir_ / "outer.txt");

    EXPECT_TRUE(writeThrough(at("outer.txt"), "new"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "outer.txt"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt"));
    EXPECT_EQ(contents(at("data/real.txt")), "new");
    struct stat status;
    ASSERT_EQ(::stat(at("data/real.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "data"), fs::directory_iterator()), 1);

    // A dangling link gets its target created.
    fs::create_symlink("data/later.txt", dir_ / "dangling.txt");
    EXPECT_TRUE(writeThrough(at("dangling.txt"), "made"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "dangling.txt"));
    EXPECT_EQ(contents(at("data/later.txt")), "made");
}

TEST_F(OutputFileTest, refusesDirectoriesAndEndlessLinks)
{
    fs::create_directory(dir_ / "sub");
    EXPECT_FALSE(writeThrough(at("sub"), "x"));
    EXPECT_TRUE(fs::is_directory(dir_ / "sub"));

    fs::create_symlink("b", dir_ / "a");
    fs::create_symlink("a", dir_ / "b");
    EXPECT_FALSE(writeThrough(at("a"), "x"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "a"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "b"));
    EXPECT_EQ(entries(), 3u);

    EXPECT_FALSE(findOutputTarget("").writable);
}

TEST_F(OutputFileTest, startIsCheckedWithoutTouchingTheTarget)
{
    const std::string path = at("out.txt");
    EXPECT_TRUE(canStartOutput(path));
    EXPECT_FALSE(fs::exists(path));
    put(path, "old contents");
    EXPECT_TRUE(canStartOutput(path));
    EXPECT_EQ(contents(path), "old contents");
    EXPECT_EQ(entries(), 1u);
    EXPECT_FALSE(canStartOutput(at("missing/out.txt")));
    EXPECT_FALSE(canStartOutput(dir_.string()));
    // A pipe is not opened: with no reader the open would wait, and a reader would see an empty
    // output.
    ASSERT_EQ(::mkfifo(at("pipe").c_str(), 0600), 0);
    EXPECT_TRUE(canStartOutput(at("pipe")));
}

TEST_F(OutputFileTest, refusesReadOnlyFileLikeAPlainCreate)
{
    if (::geteuid() == 0)
    {
        GTEST_SKIP() << "the superuser may write any file";
    }
    const std::string path = at("kept.txt");
    put(path, "kept");
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_FALSE(writeThrough(path, "lost"));
    EXPECT_EQ(contents(path), "kept");
}

TEST_F(OutputFileTest, writesIntoPipeInPlace)
{
    const std::string path = at("pipe");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = contents(path); });
    const bool ok = writeThrough(path, "through the pipe");
    if (!ok)
    {
        // Lets the reader's open return, so that a failure does not hang the test.
        ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));
    }
    reader.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(received, "through the pipe");
    struct stat status;
    ASSERT_EQ(::lstat(path.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(entries(), 1u);
    EXPECT_TRUE(findOutputTarget("/dev/null").inPlace);
}

TEST_F(OutputFileTest, writesThroughProcessDescriptorsInPlace)
{
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    EXPECT_TRUE(writeThrough("/dev/fd/" + std::to_string(ends[1]), "piped"));
    ::close(ends[1]);
    char buffer[16] = {};
    EXPECT_EQ(::read(ends[0], buffer, sizeof buffer), 5);
    ::close(ends[0]);
    EXPECT_STREQ(buffer, "piped");

    // A regular file behind a descriptor is the same file afterwards, not a new one.
    const std::string path = at("held.txt");
    put(path, "old contents");
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    struct stat before;
    ASSERT_EQ(::fstat(fd, &before), 0);
    EXPECT_TRUE(writeThrough("/proc/self/fd/" + std::to_string(fd), "new"));
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    ::close(fd);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(contents(path), "new");
    EXPECT_EQ(entries(), 1u);
}

} // namespace
