#pragma once
// A terminal service over a real configuration store, real pseudo-terminals and zsh, with the codex
// shim installed over a fake `codex` on PATH, reporting to a recording bridge.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "config/ConfigStore.hpp"
#include "platform/TextInputSourceNullBackend.hpp"
#include "support/TestSupport.hpp"
#include "terminal/CodexShimInstaller.hpp"
#include "terminal/PTYDriver.hpp"
#include "terminal/TerminalCoordinator.hpp"
#include "terminal/TerminalDebugDumpStore.hpp"
#include "terminal/TerminalInputModeSwitcher.hpp"
#include "terminal/TerminalLogger.hpp"
#include "terminal/TerminalService.hpp"
#include "terminal/TerminalTestSupport.hpp"

namespace pelko::test {

class TerminalSessionFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        home = XdgFolders::process().home;
        fakeBin = root / "fake-bin";
        std::filesystem::create_directories(fakeBin);
        writeExecutable(fakeBin / "codex", "#!/bin/sh\necho \"fake-codex-ran $*\"\n");
        store = std::make_shared<ConfigStore>(root / "data");
        store->update(false, [](AppConfig& config) {
            config.projects.clear();
            config.activeProjectID.reset();
            config.cliSessions.clear();
            config.enabledFeatures = {AppConfig::Feature::terminalV2};
        });
        installer = std::make_shared<CodexShimInstaller>(
            root / "cache" / "pelko",
            Environment({{"HOME", home.string()}, {"PATH", fakeBin.string() + ":/usr/bin:/bin"}}));
        logger = std::make_shared<TerminalLogger>(root / "cache" / "pelko" / "pelko-terminal.log");
        dumps = std::make_shared<TerminalDebugDumpStore>(root / "cache" / "pelko" / "terminal-dumps");
        coordinator = std::make_shared<TerminalCoordinator>(std::make_shared<PTYDriver>(), logger, dumps,
                                                            TerminalCoordinator::defaultCols,
                                                            TerminalCoordinator::defaultRows, sessionBound);
        service = TerminalService::create(
            store, coordinator, installer,
            std::make_shared<TerminalInputModeSwitcher>(std::make_shared<TextInputSourceNullBackend>()));
        service->attach(bridge);
        MainQueue::shared().drain();
        bridge->clear();
    }

    void TearDown() override {
        coordinator->terminateAll();
        service.reset();
        coordinator.reset();
        MainQueue::shared().drain();
    }

    static void writeExecutable(const std::filesystem::path& path, const std::string& text) {
        writeFile(path, text);
        std::filesystem::permissions(path, std::filesystem::perms(0755),
                                     std::filesystem::perm_options::replace);
    }

    CLISessionConfig addSession(const std::string& shell = "/bin/zsh", std::string folder = {}) {
        CLISessionConfig session{Uuid::random(), "Test", folder.empty() ? home.string() : folder, shell,
                                 std::nullopt};
        store->update(false, [&](AppConfig& config) { config.cliSessions.push_back(session); });
        return session;
    }

    // Waits for the session's shell and returns its pid.
    pid_t waitForCreated(const Uuid& id) {
        pid_t pid = 0;
        waitFor([&] {
            for (auto& event : bridge->events("created")) {
                if (event.sessionId == id.string()) pid = event.created->pid;
            }
            return pid != 0;
        });
        return pid;
    }

    void type(const Uuid& id, const std::string& text) {
        service->sendInput(id, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }

    bool waitForOutput(const Uuid& id, const std::string& text) {
        return waitFor([&] { return bridge->outputContains(id.string(), text); });
    }

    // The most live sessions; a fixture that tests the bound lowers it before SetUp.
    std::size_t sessionBound = TerminalCoordinator::defaultMaxSessions;
    TempDir root;
    std::filesystem::path home;
    std::filesystem::path fakeBin;
    std::shared_ptr<ConfigStore> store;
    std::shared_ptr<CodexShimInstaller> installer;
    std::shared_ptr<TerminalLogger> logger;
    std::shared_ptr<TerminalDebugDumpStore> dumps;
    std::shared_ptr<TerminalCoordinator> coordinator;
    std::shared_ptr<TerminalService> service;
    std::shared_ptr<RecordingTerminalBridge> bridge = std::make_shared<RecordingTerminalBridge>();
};

}  // namespace pelko::test
