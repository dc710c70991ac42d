// Ending a viewer thread, without X: a thread that ends in time is joined; one that hangs is
// reported and left to finish on its own instead of being killed.

#include "loom/viewer_window.h"

#include "loom/console.h"

#include <gtest/gtest.h>

#include <memory>

namespace loom
{
namespace
{

// What a viewer thread shares with the thread that ends it.
struct ThreadStateT
{
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> ended{false};
    std::atomic<bool> release{false};

    void end()
    {
        {
            std::lock_guard lock(mutex);
            ended = true;
        }
        changed.notify_all();
    }
};

TEST(ViewerThreadJoin, joinsAThreadThatEndsInTime)
{
    ConsoleCaptureT console;
    auto state = std::make_shared<ThreadStateT>();
    std::thread thread([state] { state->end(); });
    EXPECT_TRUE(joinOrDetach(thread, state->mutex, state->changed, state->ended,
                             std::chrono::milliseconds(10000)));
    EXPECT_FALSE(thread.joinable());
    EXPECT_EQ(console.text(), "");
}

TEST(ViewerThreadJoin, reportsAndDetachesAThreadThatDoesNotEnd)
{
    ConsoleCaptureT console;
    // The state outlives the test: the detached thread still holds it when the test returns.
    auto state = std::make_shared<ThreadStateT>();
    std::thread thread(
        [state]
        {
            std::unique_lock lock(state->mutex);
            state->changed.wait(lock, [&] { return state->release.load(); });
            lock.unlock();
            state->end();
        });
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(joinOrDetach(thread, state->mutex, state->changed, state->ended,
                              std::chrono::milliseconds(50)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_FALSE(thread.joinable());
    EXPECT_TRUE(console.hasLine("viewer thread did not end within 0.05 s; left to finish"))
        << console.text();

    // The detached thread still finishes once it may.
    {
        std::lock_guard lock(state->mutex);
        state->release = true;
    }
    state->changed.notify_all();
    std::unique_lock lock(state->mutex);
    EXPECT_TRUE(state->changed.wait_for(lock, std::chrono::seconds(10),
                                        [&] { return state->ended.load(); }));
}

} // namespace
} // namespace loom
