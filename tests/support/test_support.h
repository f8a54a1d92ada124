// Seams answered by tests: recorded error reports and dialogs, scratch folders, fixtures.
#pragma once

#include "app/guard/guard.h"
#include "platform/base/memory.h"
#include "platform/base/messages.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct Report {
    std::string description;
    std::string tag;
    int line;
};

// Records error reports instead of showing them; installed for its lifetime.
class RecordingReporter final : public app::ErrorReporter {
  public:
    RecordingReporter();
    ~RecordingReporter() override;
    void report(const std::string& description, const std::string& tag, int line) override;
    std::vector<Report> reports;
    std::vector<int> lines() const;
};

// Records the numbered steps one guarded procedure (known by its tag) runs, through the
// guard's step hook, for its lifetime; every step at failingLine fails.
class StepRecorder {
  public:
    explicit StepRecorder(std::string tag, int failingLine = -1);
    ~StepRecorder();
    StepRecorder(const StepRecorder&) = delete;
    StepRecorder& operator=(const StepRecorder&) = delete;
    std::vector<int> lines;

  private:
    std::string tag_;
    int failingLine_;
};

// Records information boxes and answers folder pickers from a queue.
class ScriptedDialogs final : public platform::Dialogs {
  public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;
    void information(const std::string& text, const std::string& title) override;
    std::string pickFolder(const std::string& prompt) override;
    std::vector<std::string> messages;
    std::vector<std::string> titles;
    std::vector<std::string> prompts;
    std::deque<std::string> folderAnswers;
};

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string file(const std::string& name, const std::string& content) const;

  private:
    std::filesystem::path path_;
};

std::string ReadAll(const std::filesystem::path& p);
// Every file of a folder (not below it), by name, with its bytes.
std::map<std::string, std::string> FolderContents(const std::filesystem::path& folder);

// The test caches' folder (tests/data), or "" when it is not there.
std::string FixturesFolder();

// Copies `from` to `to`: a file, or a folder's contents into the folder `to` (made when
// missing, merged when not). The test caches may be read-only, as delivered or checked out,
// and a copy must be the test's own to change and remove: every copied file is made readable
// and writable by its owner, every copied folder listable and writable too.
void CopyTree(const std::filesystem::path& from, const std::filesystem::path& to);

// Sets an environment variable (or unsets it, for nullptr) for its lifetime.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

// A block of the simulated address space, released at the end of its scope.
struct SimBlock {
    explicit SimBlock(std::uint32_t bytes);
    ~SimBlock();
    SimBlock(const SimBlock&) = delete;
    SimBlock& operator=(const SimBlock&) = delete;
    platform::Address address;
};

// What a shell command prints (standard output and error), "" when it cannot run.
std::string CommandOutput(const std::string& command);

// Runs `body` with no more rights than an ordinary user and returns what it returned.
// Permission bits do not stop root, so under root it runs in a child process switched to the
// user and group "nobody" (65534), and the folders it reads must be open to that user.
// Nothing when that child could not be run.
std::optional<std::string> AsOrdinaryUser(const std::function<std::string()>& body);

// The step numbers of several stretches of a walk, one after the other.
std::vector<int> Concat(std::initializer_list<std::vector<int>> parts);

} // namespace testing_support

#define SKIP_WITHOUT_FIXTURES()                                                                    \
    if (testing_support::FixturesFolder().empty())                                                 \
    GTEST_SKIP() << "the test caches (tests/data) are not present"
