// libFuzzer target: the probe's parse of the encoder core's description.
#include "ParserChecks.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = parser_checks::checkProbeText(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "probe parse: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
