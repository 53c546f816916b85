#pragma once

// Helpers for the thread tests. Every wait has a bound far beyond any honest run, so a fault
// fails the test instead of hanging it and no result depends on how busy the machine is.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

const std::chrono::milliseconds kGenerousWait(30000);

// For a sequence of calls that should return at once, or nearly so, and that a fault would
// keep waiting for ever (or for one of the ten-minute periods the timer tests use).
const std::chrono::milliseconds kSequenceBound(10000);

// Counts Set calls; each successful Wait takes one of them.
class CTestSignal {
public:
    void Set() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nCount;
        m_changed.notify_all();
    }

    bool Wait(std::chrono::milliseconds bound = kGenerousWait) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, bound, [this] { return m_nCount > 0; })) {
            return false;
        }
        --m_nCount;
        return true;
    }

    int Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nCount;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_nCount = 0;
};

// Gives a fault time to show itself before a test checks that something did not happen.
inline void LetTimePass(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

// Runs sequence on a thread of its own and waits up to bound for it to return. True when it
// did; the thread is then joined. False when it did not: the thread is left behind, still
// waiting, so that the test fails instead of hanging. Whatever the sequence touches must
// therefore be owned by it (captured by shared_ptr), never by the test's stack.
template <typename Sequence>
bool ReturnsWithin(std::chrono::milliseconds bound, Sequence sequence) {
    auto pReturned = std::make_shared<CTestSignal>();
    std::thread worker([pReturned, sequence = std::move(sequence)]() mutable {
        sequence();
        pReturned->Set();
    });
    if (pReturned->Wait(bound)) {
        worker.join();
        return true;
    }
    worker.detach();
    return false;
}
