#include "test_support.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {
namespace {

// No test may read the real user's caches, prefix or settings: every test process starts
// in an empty home of its own, and tests that need a cache point at one themselves.
class IsolatedHome {
  public:
    IsolatedHome() {
        std::string dir = "/tmp/tamberlin-test-home-XXXXXX";
        if (::mkdtemp(dir.data()) == nullptr)
            return;
        folder_ = dir;
        ::setenv("HOME", dir.c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (dir + "/.cache").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir + "/.config").c_str(), 1);
        ::unsetenv("WINEPREFIX");
    }
    ~IsolatedHome() {
        if (!folder_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(folder_, ec);
        }
    }
    IsolatedHome(const IsolatedHome&) = delete;
    IsolatedHome& operator=(const IsolatedHome&) = delete;

  private:
    std::string folder_;
};
const IsolatedHome g_isolatedHome;

} // namespace

RecordingReporter::RecordingReporter() {
    app::setErrorReporter(this);
}
RecordingReporter::~RecordingReporter() {
    app::setErrorReporter(nullptr);
}
void RecordingReporter::report(const std::string& description, const std::string& tag, int line) {
    reports.push_back({description, tag, line});
}
std::vector<int> RecordingReporter::lines() const {
    std::vector<int> out;
    for (const auto& r : reports)
        out.push_back(r.line);
    return out;
}

StepRecorder::StepRecorder(std::string tag, int failingLine)
    : tag_(std::move(tag)), failingLine_(failingLine) {
    app::setStepHook([this](const std::string& procedure, int line) {
        if (procedure != tag_)
            return;
        lines.push_back(line);
        if (line == failingLine_)
            throw std::runtime_error("Step failed");
    });
}

StepRecorder::~StepRecorder() {
    app::setStepHook({});
}

ScriptedDialogs::ScriptedDialogs() {
    platform::setDialogs(this);
}
ScriptedDialogs::~ScriptedDialogs() {
    platform::setDialogs(nullptr);
}
void ScriptedDialogs::information(const std::string& text, const std::string& title) {
    messages.push_back(text);
    titles.push_back(title);
}
std::string ScriptedDialogs::pickFolder(const std::string& prompt) {
    prompts.push_back(prompt);
    if (folderAnswers.empty())
        return {};
    std::string a = folderAnswers.front();
    folderAnswers.pop_front();
    return a;
}

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("tamberlin-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    // Make anything a test made read-only removable again.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string ScratchFolder::file(const std::string& name, const std::string& content) const {
    const auto p = path_ / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
}

std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::map<std::string, std::string> FolderContents(const std::filesystem::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        out[e.path().filename().string()] = ReadAll(e.path());
    return out;
}

std::string FixturesFolder() {
    std::error_code ec;
    return std::filesystem::is_directory(TAMBERLIN_FIXTURES "/url-cache", ec) ? TAMBERLIN_FIXTURES
                                                                              : "";
}

void CopyTree(const std::filesystem::path& from, const std::filesystem::path& to) {
    namespace fs = std::filesystem;
    const fs::file_status status = fs::symlink_status(from);
    if (fs::is_symlink(status)) {
        fs::copy_symlink(from, to);
    } else if (fs::is_directory(status)) {
        // Made writable before anything is copied into it, whatever the original's mode.
        fs::create_directories(to);
        fs::permissions(to, fs::perms::owner_all, fs::perm_options::add);
        for (const fs::directory_entry& e : fs::directory_iterator(from))
            CopyTree(e.path(), to / e.path().filename());
    } else {
        fs::copy_file(from, to);
        fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    }
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        had_ = true;
        old_ = old;
    }
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        ::setenv(name_, old_.c_str(), 1);
    else
        ::unsetenv(name_);
}

SimBlock::SimBlock(std::uint32_t bytes)
    : address(platform::VirtualAlloc(0, bytes, platform::MEM_COMMIT,
                                     platform::PAGE_EXECUTE_READWRITE)) {}
SimBlock::~SimBlock() {
    platform::VirtualFree(address, 0, platform::MEM_RELEASE);
}

std::string CommandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return output;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        output.append(buf, n);
    ::pclose(pipe);
    return output;
}

std::optional<std::string> AsOrdinaryUser(const std::function<std::string()>& body) {
    if (::geteuid() != 0)
        return body();
    int pipe[2];
    if (::pipe(pipe) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        constexpr uid_t kNobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(2);
        const std::string out = body();
        for (std::size_t at = 0; at < out.size();) {
            const ssize_t n = ::write(pipe[1], out.data() + at, out.size() - at);
            if (n <= 0)
                ::_exit(3);
            at += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; child > 0 && (n = ::read(pipe[0], buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(pipe[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return std::nullopt;
    return out;
}

std::vector<int> Concat(std::initializer_list<std::vector<int>> parts) {
    std::vector<int> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace testing_support
