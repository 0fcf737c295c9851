// The core's entry point: whatever goes wrong, the program reads one "Error: " line and a
// status that says what kind of end it was.
#include "Entry.h"
#include "FFmpeg.h"
#include "Options.h"
#include "PlexcoreContract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unistd.h>

using namespace plexavo::core;
namespace contract = plexavo::contract;

namespace {

// Sends what the core writes to standard error into a file while it lives.
class CapturedStderr {
  public:
    CapturedStderr() {
        std::fflush(stderr);
        std::FILE* f = std::tmpfile();
        fd_ = f ? ::dup(::fileno(f)) : -1;
        if (f)
            std::fclose(f);
        saved_ = ::dup(STDERR_FILENO);
        if (fd_ >= 0)
            ::dup2(fd_, STDERR_FILENO);
    }
    ~CapturedStderr() { restore(); }
    std::string text() {
        restore();
        std::string all;
        char buf[512];
        ::lseek(fd_, 0, SEEK_SET);
        for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;)
            all.append(buf, static_cast<size_t>(n));
        return all;
    }

  private:
    void restore() {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
    }
    int fd_ = -1;
    int saved_ = -1;
};

struct Outcome {
    int status;
    std::string text;
};

Outcome guarded(const std::function<int(Task&)>& body) {
    CapturedStderr capture;
    const int status = runGuarded(body);
    return {status, capture.text()};
}

} // namespace

TEST(GuardedEntry, EveryKindOfThrowEndsInOneErrorLine) {
    struct Case {
        const char* name;
        std::function<int(Task&)> body;
        int status;
        const char* line;
    };
    const Case cases[] = {
        {"usage", [](Task&) -> int { throw UsageError("option -x: bad"); }, contract::kExitUsage,
         "Error: option -x: bad\n"},
        {"failure", [](Task&) -> int { throw Failure("disk full"); }, contract::kExitFailed,
         "Error: disk full\n"},
        {"memory", [](Task&) -> int { throw std::bad_alloc(); }, contract::kExitFailed,
         "Error: out of memory\n"},
        {"range", [](Task&) -> int { throw std::out_of_range("basic_string::replace"); },
         contract::kExitFailed, "Error: internal error: basic_string::replace\n"},
        {"thread",
         [](Task&) -> int {
             throw std::system_error(
                 std::make_error_code(std::errc::resource_unavailable_try_again), "thread");
         },
         contract::kExitFailed, nullptr},
        {"anything", [](Task&) -> int { throw 42; }, contract::kExitFailed,
         "Error: internal error\n"},
        {"file name with a line feed",
         [](Task&) -> int { throw Failure("cannot read input 'a\nb\r.mp4': damaged"); },
         contract::kExitFailed, "Error: cannot read input 'a?b?.mp4': damaged\n"},
    };
    for (const Case& c : cases) {
        const Outcome o = guarded(c.body);
        EXPECT_EQ(o.status, c.status) << c.name;
        if (c.line) {
            EXPECT_EQ(o.text, c.line) << c.name;
        }
        EXPECT_EQ(o.text.rfind(contract::kErrorPrefix, 0), 0u) << c.name << ": " << o.text;
        EXPECT_EQ(std::count(o.text.begin(), o.text.end(), '\n'), 1) << c.name << ": " << o.text;
    }
}

TEST(GuardedEntry, ANormalEndIsPassedOnSilently) {
    const Outcome o = guarded([](Task&) { return 7; });
    EXPECT_EQ(o.status, 7);
    EXPECT_EQ(o.text, "");
}

TEST(GuardedEntry, CommandLineErrorsThroughTheWholeEntry) {
    std::vector<std::string> args = {"Plexcore", "-i", "in.mp4", "-r", "fast", "out.mp4"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    CapturedStderr capture;
    const int status = runCore(static_cast<int>(args.size()), argv.data());
    const std::string text = capture.text();
    EXPECT_EQ(status, contract::kExitUsage);
    EXPECT_EQ(text.rfind("Error: option -r: 'fast'", 0), 0u) << text;
}
