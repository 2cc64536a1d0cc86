#pragma once
// Published<T>: a current value with subscribers. A new subscriber receives the current value at
// once, then every later value, in order. Main thread only (the configuration store's published
// configuration is one). A Subscription unsubscribes when destroyed; a handler may drop its own
// subscription while running.
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace pelko {

class Subscription {
  public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    ~Subscription() { reset(); }
    void reset() {
        if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
    }

  private:
    std::function<void()> cancel_;
};

template <class T>
class Published {
  public:
    using Handler = std::function<void(const T&)>;

    explicit Published(T initial) : state_(std::make_shared<State>(std::move(initial))) {}

    const T& value() const { return state_->value; }

    void set(T value) {
        state_->value = std::move(value);
        auto handlers = state_->handlers;  // a handler may subscribe or unsubscribe
        for (auto& [id, handler] : handlers) {
            if (state_->handlers.count(id)) (*handler)(state_->value);
        }
    }

    [[nodiscard]] Subscription subscribe(Handler handler) {
        auto id = state_->nextId++;
        auto shared = std::make_shared<Handler>(std::move(handler));
        state_->handlers.emplace(id, shared);
        (*shared)(state_->value);
        std::weak_ptr<State> weak = state_;
        return Subscription([weak, id] {
            if (auto state = weak.lock()) state->handlers.erase(id);
        });
    }

  private:
    struct State {
        explicit State(T v) : value(std::move(v)) {}
        T value;
        std::map<unsigned long, std::shared_ptr<Handler>> handlers;
        unsigned long nextId = 0;
    };
    std::shared_ptr<State> state_;
};

}  // namespace pelko
