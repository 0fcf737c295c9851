#include "engine/settings/StoredSettings.h"

#include "engine/platform/Files.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace plexavo::settings {

bool toolTipsHiddenThisRun = false;

bool readToolTipsHidden() {
    return SettingsFile().readFlag(kHiddenToolTips).value_or(false);
}

SaveResult writeToolTipsHidden() {
    return SettingsFile().write(kHiddenToolTips, true);
}

std::optional<int> readLanguage() {
    return SettingsFile().readNumber(kLanguage);
}

SaveResult writeLanguage(int languageId) {
    return SettingsFile().write(kLanguage, languageId);
}

std::string resolveOutputPath(const std::string& stored) {
    if (stored.empty() || stored[0] == '/')
        return stored;
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h) {
        home = h;
    } else if (const passwd* pw = getpwuid(getuid())) {
        home = pw->pw_dir;
    }
    if (stored[0] == '~') {
        const auto slash = stored.find('/');
        const std::string user =
            stored.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
        const std::string rest = slash == std::string::npos ? std::string() : stored.substr(slash);
        if (user.empty())
            return home + rest;
        if (const passwd* pw = getpwnam(user.c_str()))
            return std::string(pw->pw_dir) + rest;
        // "~name" of nobody known: a plain relative name after all.
    }
    if (home.empty())
        return stored;
    return home + (home.back() == '/' ? "" : "/") + stored;
}

std::string readOutputPath() {
    const std::string folder =
        resolveOutputPath(SettingsFile().readText(kOutputPath).value_or(std::string()));
    return platform::folderExists(folder) ? folder : platform::defaultOutputPath();
}

SaveResult writeOutputPath(const std::string& folder) {
    return SettingsFile().write(kOutputPath, folder);
}

} // namespace plexavo::settings
