// The engine's thread pool: every index runs once, on a slot of its own call,
// whatever the number of threads, and a failure comes back to the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/threads.hpp"

namespace hivekit {
namespace {

// Restores the single-threaded default after each test.
class ThreadsTest : public ::testing::Test {
protected:
    void TearDown() override { threads::set_count(1); }
};

// One thread runs the tasks in order on the caller.
TEST_F(ThreadsTest, EveryIndexRunsOnceOnASlotOfTheTeam) {
    for (std::size_t n_threads : {1, 2, 3, 8}) {
        if (n_threads > 1) threads::set_count(n_threads);  // the first team is made with the default
        threads::Team team(5);
        EXPECT_EQ(team.size(), std::min<std::size_t>(n_threads, 5));
        std::vector<std::atomic<int>> runs(1000);
        std::atomic<bool> slot_in_range{true}, in_order{true};
        std::atomic<std::size_t> next{0};
        const auto caller = std::this_thread::get_id();
        team.run(runs.size(), [&](std::size_t i, std::size_t slot) {
            if (slot >= team.size()) slot_in_range = false;
            if (n_threads == 1 && (slot != 0 || std::this_thread::get_id() != caller || next++ != i)) in_order = false;
            ++runs[i];
        });
        EXPECT_TRUE(slot_in_range && in_order);
        for (const auto& r : runs) ASSERT_EQ(r.load(), 1) << n_threads << " threads";
    }
}

TEST_F(ThreadsTest, TheFirstFailureReachesTheCallerAfterTheOthersEnd) {
    threads::set_count(3);
    threads::Team team(100);
    std::atomic<int> running{0};
    EXPECT_THROW(team.run(100,
                          [&](std::size_t i, std::size_t) {
                              ++running;
                              std::this_thread::sleep_for(std::chrono::microseconds(100));
                              --running;
                              if (i == 7) throw std::runtime_error("task 7");
                          }),
                 std::runtime_error);
    EXPECT_EQ(running.load(), 0);
}

TEST_F(ThreadsTest, TeamsOfSeveralCallersAndNestedTeamsShareThePool) {
    threads::set_count(3);
    std::atomic<long> total{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < 4; ++c)
        callers.emplace_back([&] {
            threads::Team outer(4);
            outer.run(8, [&](std::size_t, std::size_t) {
                threads::Team inner(4);
                inner.run(16, [&](std::size_t j, std::size_t) { total += static_cast<long>(j); });
            });
        });
    for (auto& t : callers) t.join();
    EXPECT_EQ(total.load(), 4L * 8 * (15 * 16 / 2));
}

TEST_F(ThreadsTest, ChangingTheCountLetsRunningWorkFinishOnItsOwnThreads) {
    threads::set_count(2);
    threads::Team team(4);
    std::atomic<int> done{0};
    std::thread changer([] { threads::set_count(1); });
    team.run(200, [&](std::size_t, std::size_t) {
        std::this_thread::sleep_for(std::chrono::microseconds(20));
        ++done;
    });
    changer.join();
    EXPECT_EQ(done.load(), 200);
    EXPECT_EQ(threads::count(), 1u);
    EXPECT_EQ(threads::Team(4).size(), 1u);
}

}  // namespace
}  // namespace hivekit
