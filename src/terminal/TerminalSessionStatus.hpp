#pragma once
// TerminalSessionStatus: the state of one live terminal session (failed with its text, booting,
// ready, terminated) and its page word. A plain value.
#include <string>

namespace pelko {

class TerminalSessionStatus {
  public:
    enum class Kind { failed, booting, ready, terminated };

    static TerminalSessionStatus failed(std::string message) { return {Kind::failed, std::move(message)}; }
    static TerminalSessionStatus booting() { return {Kind::booting, {}}; }
    static TerminalSessionStatus ready() { return {Kind::ready, {}}; }
    static TerminalSessionStatus terminated() { return {Kind::terminated, {}}; }

    Kind kind() const { return kind_; }
    // The failure text; empty for the other cases.
    const std::string& message() const { return message_; }
    // "failed", "booting", "ready" or "terminated".
    std::string word() const;

    friend bool operator==(const TerminalSessionStatus&, const TerminalSessionStatus&) = default;

  private:
    TerminalSessionStatus(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
    Kind kind_;
    std::string message_;
};

}  // namespace pelko
