// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/api.h>

#include "api_p.h"
#include "internal/logging_p.h"

#include <QCoreApplication>
#include <QFutureInterface>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace VokImage {

namespace {

// The library's workers: at most one per core, started as requests come and kept for the
// life of the application object, which stops them (after their running requests) before
// Qt's per-thread data goes.
class Workers
{
public:
    static Workers &instance()
    {
        static Workers workers;
        return workers;
    }

    // Queues @p job; false when the workers are stopped (the application object is gone or
    // going) and no new one may run.
    bool start(std::function<void()> job)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping) {
                // A new application object after the old one's end gets workers again.
                if (!QCoreApplication::instance() || QCoreApplication::closingDown())
                    return false;
                restart();
            }
            m_jobs.push_back(std::move(job));
            // Idle workers take the queued jobs; a new one starts for each job beyond them.
            if (int(m_jobs.size()) > m_idle && int(m_threads.size()) < m_limit && !m_stopping)
                m_threads.emplace_back([this] { work(); });
        }
        m_ready.notify_one();
        return true;
    }

    void stop()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_ready.notify_all();
        for (std::thread &thread : m_threads)
            thread.join();
        m_threads.clear();
    }

    ~Workers() { stop(); }

private:
    Workers()
        : m_limit(qMax(1, QThread::idealThreadCount()))
    {
        qAddPostRoutine([] { instance().stop(); });
    }

    // With the mutex held, after stop(): the stopped threads are joined already.
    void restart()
    {
        m_stopping = false;
        m_idle = 0;
        qAddPostRoutine([] { instance().stop(); });
    }

    void work()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            ++m_idle;
            m_ready.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            --m_idle;
            if (m_jobs.empty())
                return;
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }

    const int m_limit;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    int m_idle = 0;
    bool m_stopping = false;
};

} // namespace

bool startJob(std::function<void()> job)
{
    return Workers::instance().start(std::move(job));
}

} // namespace VokImage
