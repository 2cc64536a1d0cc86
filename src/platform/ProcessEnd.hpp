#pragma once
// ProcessEnd: the one place that says the end of the process has begun. The application begins it
// once its main loop has returned; from then on nothing waits on someone else (a server, the keyring):
// exchanges in flight are cut off, later ones fail without being made, and what a cut-off leaves is
// never taken for an answer. Process-wide and for good.
//
// `begin` and `hasBegun` are callable from any thread. While a Watch lives, its wake-up runs once when
// the end begins (at once, when it had begun before the Watch was made), on the thread that calls
// `begin` and under a lock: a wake-up only nudges (wakes a poll, cancels a call), never waits, never
// makes or destroys a Watch. Once its Watch is destroyed a wake-up never runs.
#include <functional>

namespace pelko {

class ProcessEnd {
  public:
    static void begin();
    static bool hasBegun();

    class Watch {
      public:
        explicit Watch(std::function<void()> wake);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

      private:
        friend class ProcessEnd;
        std::function<void()> wake_;
    };
};

}  // namespace pelko
