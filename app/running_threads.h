// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A count of detached worker threads of one kind (exports, playbacks), so the process can wait
// for them before it exits. Any thread may call any member; waitUntilNone must not be called
// from one of the counted threads.
#include <condition_variable>
#include <mutex>

class RunningThreads {
public:
    void started() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
    }
    // The thread's very last action (also when it could not be created).
    void finished() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (count_ > 0) --count_;
        // Notified under the lock: a waiter that then lets the process exit cannot return (and
        // so the condition variable cannot be destroyed) before this thread is done with it.
        if (count_ == 0) idle_.notify_all();
    }
    void waitUntilNone() {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return count_ == 0; });
    }
    bool any() {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_ > 0;
    }

private:
    std::mutex mutex_;
    std::condition_variable idle_;
    int count_ = 0;
};
