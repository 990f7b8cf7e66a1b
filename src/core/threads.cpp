#include "core/threads.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace hivekit::threads {

namespace {

std::atomic<std::size_t> g_count{1};

// The indices of one run, handed out in order to whichever thread asks next.
struct Job {
    Job(const std::function<void(std::size_t, std::size_t)>& t, std::size_t count) : task(t), n(count) {}

    const std::function<void(std::size_t, std::size_t)>& task;
    const std::size_t n;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex error_mutex;
    std::exception_ptr error;  // the first one

    void fail(std::exception_ptr e) {
        std::lock_guard<std::mutex> lock(error_mutex);
        if (!error) error = std::move(e);
        failed.store(true);
    }

    void work(std::size_t slot) {
        while (!failed.load()) {
            const std::size_t index = next.fetch_add(1);
            if (index >= n) return;
            try {
                task(index, slot);
            } catch (...) {
                fail(std::current_exception());
            }
        }
    }
};

}  // namespace

void set_count(std::size_t n) { g_count.store(std::max<std::size_t>(n, 1)); }

std::size_t count() { return g_count.load(); }

Team::Team(std::size_t max_tasks) : size_(std::max<std::size_t>(std::min(count(), max_tasks), 1)) {}

Team::~Team() = default;

// The helpers are started for each run and joined before it returns: a run
// owns every thread it uses, so nothing outlives it, a forked child has no
// threads it cannot see, and a change of the count cannot reach a run under
// way. Starting a thread costs tens of microseconds, little beside the work
// the engine shares out (a batch of evaluations, the 2-opt of several tours).
void Team::run(std::size_t n, const std::function<void(std::size_t, std::size_t)>& task) const {
    const std::size_t helpers = std::min(size_, n) - (n > 0 ? 1 : 0);
    if (helpers == 0) {
        for (std::size_t i = 0; i < n; ++i) task(i, 0);
        return;
    }
    Job job(task, n);
    std::vector<std::thread> started;
    try {
        started.reserve(helpers);
        for (std::size_t slot = 1; slot <= helpers; ++slot) started.emplace_back([&job, slot] { job.work(slot); });
    } catch (...) {
        // Fewer threads than asked for: the ones started and the caller do the work.
    }
    job.work(0);
    for (std::thread& t : started) t.join();
    if (job.error) std::rethrow_exception(job.error);
}

}  // namespace hivekit::threads
