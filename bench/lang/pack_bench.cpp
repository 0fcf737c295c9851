// Figures of the language-pack engine: listing the packs (what a menu rebuild
// pays), switching between packs, and reading every text of a pack.
//
//   pack_bench <folder of packs> [rounds]
#include "engine/i18n/LanguagePacks.h"
#include "engine/i18n/ResourceText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace plexavo;

namespace {

struct Figure {
    double median, worst;
};

Figure measure(int rounds, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

void print(const char* what, const Figure& f) {
    std::printf("| %-44s | %9.3f | %9.3f |\n", what, f.median, f.worst);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: pack_bench <folder of packs> [rounds]\n");
        return 2;
    }
    i18n::setPackFolder(argv[1]);
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;

    i18n::LanguagePacks packs;
    packs.refreshLanguageList();
    if (packs.m_languageIds.size() < 3) {
        std::fprintf(stderr, "pack_bench: need at least two packs in %s\n", argv[1]);
        return 1;
    }
    std::printf("%zu languages, %d rounds\n\n", packs.m_languageIds.size(), rounds);
    std::printf("| %-44s | %9s | %9s |\n", "operation", "median ms", "worst ms");
    std::printf("|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(11, '-').c_str(),
                std::string(11, '-').c_str());

    print("list the packs (Language menu rebuild)",
          measure(rounds, [&] { packs.refreshLanguageList(); }));

    const std::uint16_t a = packs.m_languageIds[1], b = packs.m_languageIds[2];
    bool flip = false;
    print("switch between two packs (selectLanguage)",
          measure(rounds, [&] { packs.selectLanguage((flip = !flip) ? a : b); }));
    print("switch back to English", measure(rounds, [&] {
              packs.selectLanguage(a);
              packs.selectLanguage(i18n::kEnglishUs);
          }));

    packs.selectLanguage(a);
    const res::Module& m = i18n::currentModule();
    std::size_t found = 0;
    print("look up every text of a pack once", measure(rounds, [&] {
              for (std::size_t i = 0; i < m.count; ++i)
                  found += i18n::findText(m, m.entries[i].kind, m.entries[i].owner,
                                          m.entries[i].id) != nullptr;
          }));
    std::printf("\n(%zu texts per pack)\n", m.count);
    return found ? 0 : 1;
}
