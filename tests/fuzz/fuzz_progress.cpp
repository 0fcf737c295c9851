// libFuzzer target: the progress parse and the output pump of a conversion.
#include "ParserChecks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = parser_checks::checkProgressText(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "progress parse: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
