// Shared helpers of the unit tests: temporary folders, files, and a fake
// encoder core made from the scripted child.
#pragma once

#include "platform/CoreLocator.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace testing_support {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "plexavo-test-XXXXXX").string();
        m_path = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Points the engine at a folder whose "Plexcore" is the scripted child, which
// then follows the script in SCRIPTED_CHILD for the duration of the object.
class FakeCore {
public:
    explicit FakeCore(const std::string& script) {
        fs::create_symlink(SCRIPTED_CHILD_PATH, m_dir / "Plexcore");
        plexavo::core::setFolder(m_dir.path());
        setenv("SCRIPTED_CHILD", script.c_str(), 1);
    }
    ~FakeCore() {
        unsetenv("SCRIPTED_CHILD");
        plexavo::core::setFolder("");
    }
    const TempDir& dir() const { return m_dir; }

private:
    TempDir m_dir;
};

} // namespace testing_support
