#pragma once

// Frame and level stepping of the viewers: the frame that the animation shows after a given time,
// the arrow and letter keys that step frames, the rate keys and the level keys. Plain arithmetic,
// tested without a display.

namespace loom
{

// Frame shown `seconds` after the animation start at `rate` frames per second: trunc(rate * t),
// at least 0, modulo the frame count (0 when there are no frames).
int animationFrame(double rate, double seconds, int frameCount);

// Animation start time that continues from `frame` at `rate`: now - frame / rate.
double continuingStart(double now, int frame, double rate);

// Next frame, modulo the frame count (0 when there are no frames).
int nextFrame(int frame, int frameCount);

// Previous frame, not below 0.
int previousFrame(int frame);

// Up arrow: 5 if the rate was 1, else rate + 5.
int rateUp(int rate);

// Down arrow: rate - 5, but 1 if that would be below 1.
int rateDown(int rate);

// Clamps an index into 0 ... count - 1 (0 when count <= 0).
int clampIndex(int index, int count);

// Displayed level after key '1' (down) or '2' (up), within 0 ... levelCount.
int levelDown(int level);
int levelUp(int level, int levelCount);

} // namespace loom
