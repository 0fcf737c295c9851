// Helpers shared by the engine's unit and integration tests: temporary
// folders, whole-file reads and writes, and guards that put the process
// environment back even when an assertion ends the test early.
#pragma once

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>

namespace testing_support {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "plexavo-test-XXXXXX").string();
        if (mkdtemp(tmpl.data()))
            m_path = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty())
            fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

inline bool fileExists(const std::string& path) {
    return fs::exists(path);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Sets (or, with no value, removes) an environment variable for the guard's
// lifetime and restores what was there before.
class EnvGuard {
  public:
    EnvGuard(std::string name, const std::optional<std::string>& value) : m_name(std::move(name)) {
        if (const char* old = std::getenv(m_name.c_str()))
            m_old = old;
        set(value);
    }
    ~EnvGuard() { set(m_old); }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

  private:
    void set(const std::optional<std::string>& value) {
        if (value)
            setenv(m_name.c_str(), value->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

    std::string m_name;
    std::optional<std::string> m_old;
};

// Installs a signal disposition for the guard's lifetime.
class SignalGuard {
  public:
    SignalGuard(int signal, void (*handler)(int)) : m_signal(signal) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, &m_old);
    }
    ~SignalGuard() { sigaction(m_signal, &m_old, nullptr); }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

  private:
    int m_signal;
    struct sigaction m_old {};
};

} // namespace testing_support
