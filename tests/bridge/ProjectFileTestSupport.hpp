#pragma once
// Helpers shared by the project file operation tests: a project in a temporary folder and the
// decoded form of an answer.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "bridge/ProjectFileOperations.hpp"
#include "platform/Json.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {

inline const Uuid& projectUuid() {
    static const Uuid id = *Uuid::parse("0f8e2c1a-4b5d-4e6f-8a9b-0c1d2e3f4a5b");
    return id;
}

inline constexpr const char* kProjectIdText = "0F8E2C1A-4B5D-4E6F-8A9B-0C1D2E3F4A5B";

// A project root `project/` beside an `outside/` folder, both in one temporary folder.
struct ProjectFolder {
    TempDir temp;
    std::filesystem::path root = temp / "project";
    std::filesystem::path outside = temp / "outside";
    ProjectFolder() {
        std::filesystem::create_directories(root);
        std::filesystem::create_directories(outside);
    }
};

// The payload as the page receives it: encoded, then decoded.
inline Json decoded(const BridgeEvent& event) {
    return *json::parse(json::encode(event.payload));
}

inline std::string messageOf(const BridgeEvent& event) {
    return event.payload.value("message", std::string());
}

}  // namespace pelko::test
