// GoogleTest's Notification for the win32 thread model, which has no std::mutex
// or std::condition_variable (cmake/GTest.cmake includes this ahead of every
// GoogleTest header). Only GoogleTest's own thread helper uses it.
#pragma once
#include <atomic>
#include <thread>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : notified_(false) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) std::this_thread::yield();
    }

private:
    std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing
