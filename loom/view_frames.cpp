// Frame timing and the stepping keys of the surface and mesh viewers.

#include "loom/view_frames.h"

#include <cmath>

namespace loom
{

int animationFrame(double rate, double seconds, int frameCount)
{
    if (frameCount <= 0)
    {
        return 0;
    }
    double frames = std::trunc(rate * seconds);
    if (!(frames > 0))
    {
        return 0;
    }
    return int(std::fmod(frames, double(frameCount)));
}

double continuingStart(double now, int frame, double rate)
{
    return rate > 0 ? now - frame / rate : now;
}

int nextFrame(int frame, int frameCount)
{
    if (frameCount <= 0)
    {
        return 0;
    }
    return (clampIndex(frame, frameCount) + 1) % frameCount;
}

int previousFrame(int frame)
{
    return frame > 0 ? frame - 1 : 0;
}

int rateUp(int rate)
{
    return rate == 1 ? 5 : rate + 5;
}

int rateDown(int rate)
{
    return rate - 5 < 1 ? 1 : rate - 5;
}

int clampIndex(int index, int count)
{
    if (count <= 0 || index < 0)
    {
        return 0;
    }
    return index >= count ? count - 1 : index;
}

int levelDown(int level)
{
    return level > 0 ? level - 1 : 0;
}

int levelUp(int level, int levelCount)
{
    return level < levelCount ? level + 1 : levelCount;
}

} // namespace loom
