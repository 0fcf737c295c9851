// libFuzzer target for the core's option parser: arguments separated by NUL bytes.
#include "../unit/OptionsFuzzing.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string why = optionsfuzz::violation(optionsfuzz::argsFromBytes(data, size));
    if (!why.empty()) {
        std::fprintf(stderr, "option parser: %s\n", why.c_str());
        std::abort();
    }
    return 0;
}
