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
//
// One kind of work is let finish: an Errand, keeping what must not be lost (a token pair GitHub has
// already issued, a sign-out the user asked for). While an errand's work runs on a thread
// (`Errand::run`), the keyring calls it makes there still reach the keyring after the end has begun,
// until `errandGrace` after it; `awaitErrands` lets the end wait for the errands, and for nothing
// else, that long at most. An errand made before the end begins counts even before its work runs;
// one made afterwards is given only what is left of the grace.
#include <chrono>
#include <functional>

namespace pelko {

class ProcessEnd {
  public:
    static constexpr std::chrono::milliseconds errandGrace{1000};

    static void begin();
    static bool hasBegun();
    // Once the end has begun: waits until no errand is left, or until the grace has passed.
    static void awaitErrands();

    // Whether the calling thread runs an errand's work.
    static bool onErrand();
    // What is left of the errands' grace: all of it before the end, then down to zero.
    static std::chrono::milliseconds errandTimeLeft();

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

    class Errand {
      public:
        Errand();
        ~Errand();
        Errand(const Errand&) = delete;
        Errand& operator=(const Errand&) = delete;

        // Runs `work` on the calling thread as this errand's work.
        template <class Work>
        decltype(auto) run(Work&& work) {
            const Running running;
            return std::forward<Work>(work)();
        }

      private:
        struct Running {
            Running();
            ~Running();
            Running(const Running&) = delete;
            Running& operator=(const Running&) = delete;
        };
    };
};

}  // namespace pelko
