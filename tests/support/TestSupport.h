// Helpers shared by every test program: temporary folders, whole-file
// reads and writes, and guards that put the process environment back even
// when an assertion ends the test early.
#pragma once

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace testing_support {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed with everything in it,
// even where a test took its permissions away.
class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "plexavo-test-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            throw std::runtime_error("cannot make a temporary folder in " +
                                     fs::temp_directory_path().string());
        m_path = tmpl;
    }
    ~TempDir() {
        if (keepPolicy() && keepPolicy()()) {
            std::fprintf(stderr, "kept for a look: %s\n", m_path.c_str());
            return;
        }
        std::error_code ec;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(m_path, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->is_directory(ec))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

    // When `keep` answers true at a folder's end, the folder stays (and its
    // path is printed): a test program can keep what a failed test made.
    static void keepWhen(bool (*keep)()) { keepPolicy() = keep; }

  private:
    static bool (*&keepPolicy())() {
        static bool (*policy)() = nullptr;
        return policy;
    }

    std::string m_path;
};

// True for a dangling link too: a test asking whether something was left
// behind under a name must see it.
// Whether text is well-formed UTF-8: no character cut in half.
inline bool isWellFormedUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t len = c < 0x80         ? 1
                                : (c >> 5) == 6  ? 2
                                : (c >> 4) == 14 ? 3
                                : (c >> 3) == 30 ? 4
                                                 : 0;
        if (len == 0 || i + len > text.size())
            return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += len;
    }
    return true;
}

inline bool fileExists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// -1 when missing.
inline long long fileSize(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? -1 : static_cast<long long>(size);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Throws when the file cannot be written: a test must not go on with an
// input it did not get.
inline void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

inline void copyFile(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
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

    // Changes the value while the guard lives; its end still restores the original.
    void set(const std::optional<std::string>& value) {
        if (value)
            setenv(m_name.c_str(), value->c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

  private:
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
