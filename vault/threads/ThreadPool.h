// A small pool of worker threads for the vault core, and the number of
// threads that the core's parallel work (deflate, extraction) may use.
//
// A pool belongs to one operation: it is created when the operation starts
// and its destructor waits for every queued task and joins every thread, so
// no thread outlives the operation. Tasks report their own errors; an
// exception that escapes a task is swallowed so that it cannot end the
// process from a worker.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vault {

// std::thread::hardware_concurrency(), at least 1.
unsigned HardwareThreads();

// Threads for the core's parallel work: 1 does everything on the calling
// thread as before; 0 (the default) means HardwareThreads().
void SetVaultThreads(unsigned threads);
unsigned VaultThreads();

class ThreadPool {
public:
    // Starts up to `threads` workers. A worker that cannot be started is
    // done without; with none at all, Submit runs each task itself.
    explicit ThreadPool(unsigned threads);
    // Runs what is still queued, then joins the workers.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Workers actually running.
    unsigned Size() const { return static_cast<unsigned>(m_threads.size()); }

    // Queues a task; tasks start in the order they were queued.
    void Submit(std::function<void()> task);

    // Until every queued task has finished.
    void Wait();

private:
    void Loop();

    std::mutex m_lock;
    std::condition_variable m_work;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_queue;
    size_t m_running = 0;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

}  // namespace vault
