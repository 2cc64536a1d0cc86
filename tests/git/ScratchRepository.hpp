#pragma once
// ScratchRepository: a real git repository in a temporary folder for tests, built with an isolated
// configuration (no global or system file) and fixed, increasing author and committer dates, so
// histories are the same on every machine.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "git/ProcessGitProcessRunner.hpp"
#include "platform/Environment.hpp"
#include "support/TestSupport.hpp"

namespace pelko::test {

class ScratchRepository {
  public:
    // A repository on branch "main" in a fresh folder (`init` false leaves the folder empty).
    explicit ScratchRepository(bool init = true) : path_(folder_.path()) {
        if (init) git({"init", "-q", "-b", "main"});
    }
    // A clone of `origin` (extra clone options such as "--depth" go before the source).
    static std::unique_ptr<ScratchRepository> cloneOf(const ScratchRepository& origin,
                                                      std::vector<std::string> options = {}) {
        auto clone = std::make_unique<ScratchRepository>(false);
        std::vector<std::string> arguments{"clone", "-q"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back("file://" + origin.path().string());
        arguments.push_back(".");
        clone->git(arguments);
        return clone;
    }

    const std::filesystem::path& path() const { return path_; }

    // Runs git here; the test fails when git does.
    std::string git(const std::vector<std::string>& arguments) const { return gitIn(path_, arguments); }
    std::string gitIn(const std::filesystem::path& directory,
                      const std::vector<std::string>& arguments) const {
        auto result = run(directory, arguments);
        EXPECT_EQ(result.status, 0) << arguments.front() << ": " << result.stderr;
        return result.stdout;
    }
    GitProcessExecutionResult run(const std::filesystem::path& directory,
                                  const std::vector<std::string>& arguments) const {
        std::vector<std::string> command{"git"};
        command.insert(command.end(), arguments.begin(), arguments.end());
        auto environment = Environment::process().all();
        environment["GIT_CONFIG_GLOBAL"] = "/dev/null";
        environment["GIT_CONFIG_NOSYSTEM"] = "1";
        environment["GIT_AUTHOR_NAME"] = "Ada";
        environment["GIT_AUTHOR_EMAIL"] = "ada@example.com";
        environment["GIT_COMMITTER_NAME"] = "Ada";
        environment["GIT_COMMITTER_EMAIL"] = "ada@example.com";
        std::string date = std::to_string(1700000000 + 60 * clock_++) + " +0000";
        environment["GIT_AUTHOR_DATE"] = date;
        environment["GIT_COMMITTER_DATE"] = date;
        return ProcessGitProcessRunner().run(command, directory, environment);
    }

    // Writes the file and commits everything; returns the new commit's oid.
    std::string commit(const std::string& message, const std::string& file = "",
                       const std::string& text = "") {
        writeFile(path_ / (file.empty() ? "file.txt" : file), text.empty() ? message + "\n" : text);
        git({"add", "-A"});
        git({"commit", "-q", "-m", message});
        return head();
    }
    std::string head() const { return revParse("HEAD"); }
    std::string revParse(const std::string& revision) const {
        auto text = git({"rev-parse", revision});
        return text.substr(0, text.find('\n'));
    }

  private:
    TempDir folder_;
    std::filesystem::path path_;
    mutable int clock_ = 0;
};

}  // namespace pelko::test
