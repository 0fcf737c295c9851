#include "engine/desktop/ShippedPages.h"

#include "engine/platform/Files.h"
#include "engine/platform/Platform.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#ifndef PLEXAVO_MAKER_SITE
#define PLEXAVO_MAKER_SITE ""
#endif

namespace plexavo::desktop {

namespace {

std::string canonical(const std::string& path) {
    if (char* real = realpath(path.c_str(), nullptr)) {
        std::string out = real;
        std::free(real);
        return out;
    }
    return path;
}

std::string withAnchor(const std::string& url, const std::string& anchor) {
    if (anchor.empty())
        return url;
    return url + (anchor[0] == '#' ? "" : "#") + anchor;
}

} // namespace

std::string locateShipped(const std::string& programFolder, const std::string& name) {
    std::string folder = programFolder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    // Beside the program; or in the data folder of a PREFIX/bin or PREFIX/lib/plexavo program.
    for (const std::string& candidate : {folder + name, folder + "../share/plexavo/" + name,
                                         folder + "../../share/plexavo/" + name})
        if (platform::fileExists(candidate))
            return canonical(candidate);
    return folder + name;
}

std::string fileUrl(const std::string& absolutePath) {
    static const char* hex = "0123456789ABCDEF";
    std::string out = "file://";
    for (const char ch : absolutePath) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || std::strchr("/-._~", c)) {
            out += ch;
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string homePageUrl() {
    const std::string site = PLEXAVO_MAKER_SITE;
    if (!site.empty())
        return site + "/index.html";
    return fileUrl(locateShipped(platform::programFolder(), "index.html"));
}

std::string downloadPageUrl(const std::string& anchor) {
    const std::string site = PLEXAVO_MAKER_SITE;
    if (!site.empty())
        return withAnchor(site + "/download.html", anchor);
    return withAnchor(fileUrl(locateShipped(platform::programFolder(), "download.html")), anchor);
}

std::string helpFilePath() {
    return locateShipped(platform::programFolder(), "Plexavo.html");
}

const char* downloadAnchor(int command) {
    switch (command) {
    case 32776:
        return "#directx";
    case 32778:
        return "#wmplayer";
    case 32777:
        return "#realplayer";
    case 32779:
        return "#quicktime";
    case 32780:
        return "#oggcodecs";
    default:
        return nullptr;
    }
}

} // namespace plexavo::desktop
