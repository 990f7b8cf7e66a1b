// The engine's own threads, started only once the user asks for more than
// one, and only for the work that is shared out. Work is split by index, and
// every index writes only what belongs to it, so results never depend on how
// many threads there are or on which thread ran which index.
#pragma once

#include <cstddef>
#include <functional>

namespace hivekit::threads {

// Threads the engine may use for one piece of work, the caller's included:
// 1 (the default) starts none. A change reaches the work that starts after it.
void set_count(std::size_t n);
std::size_t count();

// The threads one piece of work runs on, fixed when the team is made: at most
// count() and at most `max_tasks`, the caller's thread included.
class Team {
public:
    explicit Team(std::size_t max_tasks);
    ~Team();
    Team(const Team&) = delete;
    Team& operator=(const Team&) = delete;

    // Threads of the team; each has a slot below this.
    std::size_t size() const { return size_; }

    // Runs task(index, slot) for every index in [0, n) on the team's threads,
    // the caller's thread taking slot 0, and returns once every started task
    // has ended. With one thread the tasks run in index order. A task that
    // throws stops the tasks not yet started; the first exception is rethrown
    // here.
    void run(std::size_t n, const std::function<void(std::size_t index, std::size_t slot)>& task) const;

private:
    std::size_t size_;
};

}  // namespace hivekit::threads
