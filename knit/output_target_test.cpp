// knit's whole-or-nothing output files: an interrupted write leaves the target as it was and no
// temporary file beside it. (Links, devices and descriptor paths are covered end to end by the
// command-line tests.)
#include "knit/output_target.h"

#include "knit/test_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

namespace knit
{
namespace
{

TEST(KnitOutputFile, terminatingSignalRemovesPendingTemporary)
{
    const std::string dir = test::scratchDir() + "/interrupted";
    std::filesystem::create_directories(dir);
    const std::string path = test::writeFile("interrupted/out.knit", "old contents");
    for (int signal : {SIGTERM, SIGHUP})
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
        EXPECT_EQ(test::readFile(path), "old contents");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

TEST(KnitOutputFile, failedWriteKeepsTheTarget)
{
    const std::string path = test::writeFile("kept.knit", "old contents");
    {
        OutputFileT output;
        const int fd = output.open(path);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "half", 4), 4);
        ::close(fd);
        EXPECT_FALSE(output.finish(false));
    }
    EXPECT_EQ(test::readFile(path), "old contents");
    EXPECT_FALSE(findOutputTarget(test::scratchDir()).writable);
    EXPECT_TRUE(findOutputTarget("/dev/null").inPlace);
}

} // namespace
} // namespace knit
