// Helpers of the language-pack tests: a scratch folder of packs and the
// lookups the checks share.
#pragma once

#include "engine/i18n/LanguagePacks.h"
#include "engine/i18n/ResourceText.h"
#include "engine/res/ResourceModule.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace lang_test {

namespace fs = std::filesystem;

// A temporary folder that the pack functions search; removed afterwards,
// with the default folder and module restored.
class PackFolder {
  public:
    PackFolder() {
        std::string tmpl = (fs::temp_directory_path() / "plexavo-lang-XXXXXX").string();
        m_path = mkdtemp(tmpl.data());
        m_path += '/';
        plexavo::i18n::setPackFolder(m_path);
    }
    ~PackFolder() {
        plexavo::i18n::setPackFolder("");
        plexavo::i18n::setCurrentModule(nullptr);
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    PackFolder(const PackFolder&) = delete;
    PackFolder& operator=(const PackFolder&) = delete;

    const std::string& path() const { return m_path; }

    // Copies a test pack in (a copy, not a link: a pack is found by its own name).
    std::string add(const std::string& packFile, const std::string& as = "") {
        const std::string to = m_path + (as.empty() ? packFile : as);
        fs::copy_file(std::string(LANG_TEST_PACKS) + "/" + packFile, to,
                      fs::copy_options::overwrite_existing);
        return to;
    }
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(m_path + name, std::ios::binary) << text;
        return m_path + name;
    }

  private:
    std::string m_path;
};

inline std::string text(const plexavo::res::Module& m, plexavo::res::Kind kind, int owner, int id) {
    const char* t = plexavo::i18n::findText(m, kind, owner, id);
    return t ? t : "<none>";
}

} // namespace lang_test
