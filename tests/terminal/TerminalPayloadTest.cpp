#include <gtest/gtest.h>

#include "platform/Json.hpp"
#include "terminal/TerminalCreatedPayload.hpp"
#include "terminal/TerminalSnapshotPayload.hpp"

namespace pelko {
namespace {

TEST(TerminalPayloadTest, SnapshotSessionWritesOnlyPresentKeysInOrder) {
    TerminalSnapshotPayload payload;
    payload.sessions.push_back({"A", "CLI #1", "~/p", "pending"});
    TerminalSnapshotPayload::Session full{"B", "t", "/w", "ready", "P", 120, 40, 77};
    payload.sessions.push_back(full);
    EXPECT_EQ(json::encode(payload.toJson()),
              R"({"sessions":[{"id":"A","title":"CLI #1","workingDirectory":"~\/p","status":"pending"},)"
              R"({"id":"B","title":"t","workingDirectory":"\/w","status":"ready","projectId":"P","cols":120,)"
              R"("rows":40,"pid":77}]})");
}

TEST(TerminalPayloadTest, CreatedPayloadKeysInOrder) {
    TerminalCreatedPayload payload{"S", 42, 120, 40, "CLI #1", "/home/u", "/bin/zsh"};
    EXPECT_EQ(json::encode(payload.toJson()),
              R"({"sessionId":"S","pid":42,"cols":120,"rows":40,"title":"CLI #1",)"
              R"("workingDirectory":"\/home\/u","shell":"\/bin\/zsh"})");
}

}  // namespace
}  // namespace pelko
