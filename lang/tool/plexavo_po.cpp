// plexavo-po: writes the translation template from the program's English
// resources, sets the catalogs' c-format flags from the same texts, and
// compiles a translated catalog into a language pack's source.
//
//   plexavo-po template OUT.pot
//   plexavo-po flags CATALOG.po...               (rewrites only the flags lines)
//   plexavo-po compile [--quiet] IN.po OUT.cpp   (--quiet: a count instead of each warning)
#include "PoCatalog.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

bool readAll(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return true;
}

// Leaves an unchanged file alone (no needless rebuild of the pack) and never
// leaves a half-written one (temporary file, then rename).
bool writeIfChanged(const std::string& path, const std::string& text) {
    std::string old;
    if (readAll(path, old) && old == text)
        return true;
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!(out << text) || !out.flush()) {
            out.close();
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

int usage() {
    std::cerr << "usage: plexavo-po template OUT.pot\n"
                 "       plexavo-po flags CATALOG.po...\n"
                 "       plexavo-po compile [--quiet] IN.po OUT.cpp\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace plexavo;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "template" && argc == 3) {
        if (!writeIfChanged(argv[2], po::writeTemplate(res::defaultModule()))) {
            std::cerr << "plexavo-po: cannot write " << argv[2] << "\n";
            return 1;
        }
        return 0;
    }
    if (mode == "flags" && argc > 2) {
        int status = 0;
        for (int i = 2; i < argc; ++i) {
            std::string text, error;
            po::Catalog catalog;
            if (!readAll(argv[i], text)) {
                std::cerr << argv[i] << ": cannot read the file\n";
                status = 1;
            } else if (!po::parse(text, catalog, error)) {
                // A catalog that does not read is left for its translator to mend.
                std::cerr << argv[i] << ":" << error << "\n";
                status = 1;
            } else if (!writeIfChanged(argv[i], po::syncFormatFlags(res::defaultModule(), text))) {
                std::cerr << "plexavo-po: cannot write " << argv[i] << "\n";
                status = 1;
            }
        }
        return status;
    }
    const bool quiet = argc > 2 && std::string(argv[2]) == "--quiet";
    if (mode != "compile" || argc != 4 + quiet)
        return usage();
    const std::string source = argv[2 + quiet];
    const std::string output = argv[3 + quiet];

    std::string text, error;
    if (!readAll(source, text)) {
        std::cerr << source << ": cannot read the file\n";
        return 1;
    }
    po::Catalog catalog;
    if (!po::parse(text, catalog, error)) {
        std::cerr << source << ":" << error << "\n";
        return 1;
    }
    const po::CompileResult pack = po::compile(res::defaultModule(), catalog);
    for (const std::string& e : pack.errors)
        std::cerr << source << ": error: " << e << "\n";
    if (!pack.errors.empty())
        return 1;
    if (quiet && !pack.warnings.empty())
        std::cerr << source << ": " << pack.warnings.size() << " warnings\n";
    for (const std::string& w : pack.warnings)
        if (!quiet)
            std::cerr << source << ": warning: " << w << "\n";

    const auto slash = source.rfind('/');
    const std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
    if (!writeIfChanged(output, po::writePackSource(pack, name))) {
        std::cerr << "plexavo-po: cannot write " << output << "\n";
        return 1;
    }
    return 0;
}
