// The core's thread pool and its thread-count setting.
#include "vault/threads/ThreadPool.h"

#include <atomic>
#include <system_error>
#include <utility>

namespace vault {

namespace {
std::atomic<unsigned> g_threads{0};
}  // namespace

unsigned HardwareThreads() {
    const unsigned n = std::thread::hardware_concurrency();
    return n ? n : 1;
}

void SetVaultThreads(unsigned threads) { g_threads = threads; }

unsigned VaultThreads() {
    const unsigned n = g_threads;
    return n ? n : HardwareThreads();
}

ThreadPool::ThreadPool(unsigned threads) {
    m_threads.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) {
        try {
            m_threads.emplace_back([this] { Loop(); });
        } catch (const std::system_error&) {
            break;  // the system gives no more threads; go on with fewer
        }
    }
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_work.notify_all();
    for (std::thread& t : m_threads) t.join();
}

void ThreadPool::Submit(std::function<void()> task) {
    if (m_threads.empty()) {
        try {
            task();
        } catch (...) {
        }
        return;
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_queue.push_back(std::move(task));
    }
    m_work.notify_one();
}

void ThreadPool::Wait() {
    std::unique_lock<std::mutex> hold(m_lock);
    m_idle.wait(hold, [this] { return m_queue.empty() && m_running == 0; });
}

void ThreadPool::Loop() {
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        m_work.wait(hold, [this] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty()) return;  // stopping, and nothing is left
        std::function<void()> task = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_running;
        hold.unlock();
        try {
            task();
        } catch (...) {
        }
        task = nullptr;  // whatever the task holds goes before it counts as done
        hold.lock();
        --m_running;
        if (m_queue.empty() && m_running == 0) m_idle.notify_all();
    }
}

}  // namespace vault
