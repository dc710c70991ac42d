#include "loom/view_frames.h"

#include <gtest/gtest.h>

namespace loom
{
namespace
{

TEST(ViewFrames, animationFrameTruncatesAndWraps)
{
    EXPECT_EQ(animationFrame(10, 0.35, 100), 3);
    EXPECT_EQ(animationFrame(10, 1.25, 5), 2); // frame 12 of 5
    EXPECT_EQ(animationFrame(20, -3, 5), 0);   // a start in the future shows frame 0
    EXPECT_EQ(animationFrame(10, 7.9, 1), 0);  // one frame animates as frame 0
    EXPECT_EQ(animationFrame(10, 7.9, 0), 0);  // no frames at all
    EXPECT_EQ(animationFrame(10, 1e12, 7), int(10000000000000LL % 7));
}

TEST(ViewFrames, continuingStartKeepsTheCurrentFrame)
{
    for (int frame : {0, 3, 9})
    {
        double now = 1000.0;
        double start = continuingStart(now, frame, 5);
        EXPECT_EQ(animationFrame(5, now + 1e-6 - start, 10), frame);
    }
}

TEST(ViewFrames, frameStepsWrapForwardAndStopAtZeroBackward)
{
    EXPECT_EQ(nextFrame(0, 4), 1);
    EXPECT_EQ(nextFrame(3, 4), 0);
    EXPECT_EQ(nextFrame(0, 1), 0);
    EXPECT_EQ(nextFrame(9, 4), 0); // a frame beyond a shorter new surface
    EXPECT_EQ(nextFrame(2, 0), 0);
    EXPECT_EQ(previousFrame(0), 0);
    EXPECT_EQ(previousFrame(3), 2);
}

TEST(ViewFrames, rateKeys)
{
    EXPECT_EQ(rateUp(1), 5);
    EXPECT_EQ(rateUp(5), 10);
    EXPECT_EQ(rateUp(10), 15);
    EXPECT_EQ(rateDown(5), 1);
    EXPECT_EQ(rateDown(11), 6);
    EXPECT_EQ(rateDown(3), 1);
    EXPECT_EQ(rateDown(1), 1);
}

TEST(ViewFrames, levelKeysStopAtTheEnds)
{
    EXPECT_EQ(levelDown(0), 0);
    EXPECT_EQ(levelDown(2), 1);
    EXPECT_EQ(levelUp(2, 2), 2);
    EXPECT_EQ(levelUp(0, 2), 1);
    EXPECT_EQ(levelUp(0, 0), 0);
    EXPECT_EQ(clampIndex(5, 3), 2);
    EXPECT_EQ(clampIndex(-1, 3), 0);
    EXPECT_EQ(clampIndex(4, 0), 0);
}

} // namespace
} // namespace loom
