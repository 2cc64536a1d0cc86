#include "bridge/TerminalMessages.hpp"

#include <cmath>

#include "bridge/BridgeContext.hpp"
#include "bridge/BridgePayloads.hpp"
#include "bridge/EventScript.hpp"
#include "bridge/WebBridge.hpp"
#include "platform/Base64.hpp"
#include "platform/MainQueue.hpp"
#include "terminal/TerminalService.hpp"

namespace pelko {

namespace {

// A terminal size from a page number: the fraction is cut off; anything absent or not a number, or a
// number outside the 64-bit range (1e300), gives 0 and is refused by the caller.
std::int64_t truncatedSize(const Json* value) {
    if (!value || !value->is_number()) return 0;
    Json whole = value->is_number_float() ? Json(std::trunc(value->get<double>())) : *value;
    return json::integerValue(whole).value_or(0);
}

}  // namespace

void TerminalMessages::handle(BridgeContext& context, const std::string& type, const Json* payload) {
    auto service = context.terminalService.lock();
    if (!service) return;
    if (type == "terminal/create" || type == "cli/create") {
        auto title = json::stringField(payload, "title");
        auto projectID = json::uuidField(payload, "projectId");
        service->createSession(title, projectID);
        return;
    }
    auto sessionID = json::uuidField(payload, "sessionId");
    if (!sessionID) return;

    if (type == "terminal/input" || type == "cli/input") {
        auto data = json::stringField(payload, "data");
        if (!data) return;
        std::vector<std::uint8_t> bytes;
        if (json::stringField(payload, "encoding") == "base64") {
            auto decoded = base64::decode(*data);
            if (!decoded) return;
            bytes = std::move(*decoded);
        } else {
            bytes.assign(data->begin(), data->end());
        }
        service->sendInput(*sessionID, bytes);
    } else if (type == "terminal/close" || type == "cli/close") {
        service->closeSession(*sessionID);
    } else if (type == "terminal/resize" || type == "cli/resize") {
        std::int64_t cols = truncatedSize(json::field(payload, "cols"));
        std::int64_t rows = truncatedSize(json::field(payload, "rows"));
        if (cols < 1 || rows < 1) return;
        service->resizeSession(*sessionID, cols, rows);
    } else if (type == "terminal/signal" || type == "cli/signal") {
        auto signal = json::stringField(payload, "signal");
        if (signal) service->sendSignal(*sessionID, *signal);
    } else if (type == "terminal/focus") {
        auto focused = json::boolField(payload, "focused");
        if (!focused) return;
        service->setInputFocus(*sessionID, *focused);
    }
}

// ---------------------------------------------------------------------------------------------------
// Terminal events (TerminalBridging, any thread)

void WebBridge::dispatchTerminalSnapshot(const TerminalSnapshotPayload& payload) {
    dispatchEvent("terminal/snapshot", payload.toJson());
}

void WebBridge::dispatchTerminalCreated(const TerminalCreatedPayload& payload) {
    dispatchEvent("terminal/created", payload.toJson());
}

void WebBridge::dispatchTerminalStatus(const std::string& sessionId, const std::string& status,
                                       std::optional<std::int32_t> exitCode) {
    TerminalStatusPayload payload{sessionId, status, std::nullopt};
    if (exitCode) payload.exitCode = *exitCode;
    dispatchEvent("terminal/status", payload.toJson());
}

void WebBridge::dispatchTerminalExit(const std::string& sessionId, std::int32_t exitCode) {
    dispatchEvent("terminal/exit", TerminalExitPayload{sessionId, exitCode}.toJson());
}

void WebBridge::dispatchTerminalError(const std::string& sessionId, const std::string& message) {
    dispatchEvent("terminal/error", TerminalErrorPayload{sessionId, message, true}.toJson());
}

namespace {

// The hottest event: built in place so the chunk is moved, never copied.
Json terminalOutputPayload(const std::string& sessionId, std::span<const std::uint8_t> data) {
    Json payload = Json::object();
    payload["sessionId"] = sessionId;
    payload["chunk"] = EventScript::base64(data);
    payload["encoding"] = "base64";
    return payload;
}

}  // namespace

void WebBridge::dispatchTerminalOutput(const std::string& sessionId, std::span<const std::uint8_t> data) {
    dispatchEvent("terminal/output", terminalOutputPayload(sessionId, data));
}

// Encoded on the calling thread and always delivered through the main queue, even from the main
// thread, so that output a session hands on at its end never overtakes output it queued before. The
// acknowledgement waits for the page to have run the script; dropped events (bridge gone, not
// encodable) count as taken.
void WebBridge::deliverTerminalOutput(const std::string& sessionId, std::span<const std::uint8_t> data,
                                      std::function<void()> onDelivered) {
    std::string script;
    try {
        script = EventScript::build("terminal/output", terminalOutputPayload(sessionId, data));
    } catch (const EncodeError&) {
        onDelivered();
        return;
    }
    MainQueue::shared().async([weak = std::weak_ptr<BridgeContext>(context_), script = std::move(script),
                               onDelivered = std::move(onDelivered)]() mutable {
        if (auto context = weak.lock()) {
            context->delivery.deliver(std::move(script), std::move(onDelivered));
        } else {
            onDelivered();
        }
    });
}

void WebBridge::dispatchTerminalActivity(const std::string& sessionId) {
    dispatchEvent("terminal/activity", TerminalActivityPayload{sessionId}.toJson());
}

void WebBridge::dispatchTerminalResize(const std::string& sessionId, int cols, int rows) {
    dispatchEvent("terminal/resize", TerminalResizePayload{sessionId, cols, rows}.toJson());
}

}  // namespace pelko
