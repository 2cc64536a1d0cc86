#include "platform/BlockingCall.hpp"

#include <condition_variable>
#include <exception>
#include <mutex>

namespace pelko {

void runAndWait(const std::function<void(std::function<void()>)>& enqueue,
                const std::function<void()>& work) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::exception_ptr failure;
    enqueue([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_one();
    });
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return done; });
    if (failure) std::rethrow_exception(failure);
}

}  // namespace pelko
