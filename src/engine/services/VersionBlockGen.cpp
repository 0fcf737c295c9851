// Build tool: writes the C++ source that embeds a version block.
//
//   VersionBlockGen OUTPUT.cpp MAJOR.MINOR.PATCH.TWEAK [--flags N] [--type N]
//                   [--subtype N] [Key=Value ...]
//
// The output is rewritten only when its text changes, so an unchanged version
// does not relink the program.
#include "engine/services/VersionBlock.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

bool parseVersion(const char* text, std::uint16_t out[4]) {
    unsigned parts[4] = {0, 0, 0, 0};
    const int n = std::sscanf(text, "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
    if (n < 1)
        return false;
    for (int i = 0; i < 4; ++i) {
        if (parts[i] > 0xFFFF)
            return false;
        out[i] = static_cast<std::uint16_t>(parts[i]);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s OUTPUT.cpp VERSION [--flags N] [--type N] [--subtype N] "
                     "[Key=Value ...]\n",
                     argv[0]);
        return 2;
    }
    plexavo::VersionInfo info;
    if (!parseVersion(argv[2], info.fileVersion)) {
        std::fprintf(stderr, "%s: bad version \"%s\"\n", argv[0], argv[2]);
        return 2;
    }
    for (int i = 0; i < 4; ++i)
        info.productVersion[i] = info.fileVersion[i];
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--flags" || arg == "--type" || arg == "--subtype") && i + 1 < argc) {
            const auto value = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 0));
            (arg == "--flags"  ? info.fileFlags
             : arg == "--type" ? info.fileType
                               : info.fileSubtype) = value;
        } else if (const auto eq = arg.find('='); eq != std::string::npos && eq > 0) {
            info.strings.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
        } else {
            std::fprintf(stderr, "%s: unknown argument \"%s\"\n", argv[0], arg.c_str());
            return 2;
        }
    }

    const std::string source = plexavo::versionBlockSource(plexavo::buildVersionBlock(info));
    {
        std::ifstream in(argv[1], std::ios::binary);
        std::stringstream old;
        old << in.rdbuf();
        if (in && old.str() == source)
            return 0;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << source;
    return out.good() ? 0 : 1;
}
