#include "core/threads.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define hivekit_getpid _getpid
#else
#include <unistd.h>
#define hivekit_getpid getpid
#endif

namespace hivekit::threads {

namespace {

struct Job {
    const std::function<void(std::size_t, std::size_t)>* task;
    std::size_t n;
    std::size_t max_helpers;  // pool threads that may join, besides the caller
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;  // the first one; written under error_mutex
    std::mutex error_mutex;
    // Under the pool's mutex:
    std::size_t joined = 0;  // pool threads that joined; the k-th takes slot k
    std::size_t active = 0;  // pool threads still working on it
    std::condition_variable finished;

    bool wants_help() const { return joined < max_helpers && next.load() < n && !failed.load(); }

    void work(std::size_t slot) {
        for (;;) {
            if (failed.load()) return;
            const std::size_t index = next.fetch_add(1);
            if (index >= n) return;
            try {
                (*task)(index, slot);
            } catch (...) {
                std::lock_guard<std::mutex> lock(error_mutex);
                if (!error) error = std::current_exception();
                failed.store(true);
            }
        }
    }
};

}  // namespace

class Pool {
public:
    explicit Pool(std::size_t n_threads) : size_(n_threads), pid_(hivekit_getpid()) {
        workers_.reserve(n_threads - 1);
        try {
            for (std::size_t k = 1; k < n_threads; ++k) workers_.emplace_back([this] { serve(); });
        } catch (...) {
            stop();
            throw;
        }
    }
    ~Pool() { stop(); }

    std::size_t size() const { return size_; }

    // Whether the pool's threads exist in this process: a forked child has
    // only the thread that forked, so it does all the work itself.
    bool alive() const { return pid_ == hivekit_getpid(); }

    void run(Job& job, std::shared_ptr<Job> shared) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(shared));
        }
        wake_.notify_all();
        job.work(0);
        std::unique_lock<std::mutex> lock(mutex_);
        std::erase_if(queue_, [&job](const std::shared_ptr<Job>& j) { return j.get() == &job; });
        job.finished.wait(lock, [&job] { return job.active == 0; });
    }

private:
    void serve() {
        for (;;) {
            std::shared_ptr<Job> job;
            std::size_t slot;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || first_wanting() != queue_.end(); });
                if (stopping_) return;
                auto it = first_wanting();
                job = *it;
                slot = ++job->joined;
                ++job->active;
                if (job->joined == job->max_helpers) queue_.erase(it);
            }
            job->work(slot);
            std::lock_guard<std::mutex> lock(mutex_);
            if (--job->active == 0) job->finished.notify_all();
        }
    }

    std::deque<std::shared_ptr<Job>>::iterator first_wanting() {
        return std::find_if(queue_.begin(), queue_.end(), [](const std::shared_ptr<Job>& j) { return j->wants_help(); });
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (!alive()) {
            // The threads were not copied into this process: there is nothing
            // to join, and their handles must not be destroyed as joinable.
            new std::vector<std::thread>(std::move(workers_));
            return;
        }
        for (std::thread& t : workers_) t.join();
        workers_.clear();
    }

    const std::size_t size_;
    const decltype(hivekit_getpid()) pid_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Job>> queue_;
    bool stopping_ = false;
};

namespace {

std::mutex g_mutex;
std::size_t g_count = 1;
// Never destroyed at exit: its threads may be blocked in a library that is
// being unloaded, and a process that ends needs no joining.
std::shared_ptr<Pool>* g_pool = new std::shared_ptr<Pool>();

}  // namespace

void set_count(std::size_t n) {
    n = std::max<std::size_t>(n, 1);
    std::shared_ptr<Pool> fresh = n > 1 ? std::make_shared<Pool>(n) : nullptr;
    std::shared_ptr<Pool> old;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_count = n;
        old = std::exchange(*g_pool, std::move(fresh));
    }
    // The old pool, if no work holds it any more, is stopped here, outside the lock.
}

std::size_t count() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_count;
}

Team::Team(std::size_t max_tasks) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (*g_pool && (*g_pool)->alive()) pool_ = *g_pool;
    size_ = pool_ ? std::max<std::size_t>(std::min(pool_->size(), max_tasks), 1) : 1;
    if (size_ == 1) pool_.reset();
}

Team::~Team() = default;

void Team::run(std::size_t n, const std::function<void(std::size_t, std::size_t)>& task) const {
    if (!pool_ || n <= 1) {
        for (std::size_t i = 0; i < n; ++i) task(i, 0);
        return;
    }
    auto job = std::make_shared<Job>();
    job->task = &task;
    job->n = n;
    job->max_helpers = std::min(size_, n) - 1;
    pool_->run(*job, job);
    if (job->error) std::rethrow_exception(job->error);
}

}  // namespace hivekit::threads
