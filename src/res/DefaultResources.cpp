#include "res/ResourceModule.h"

namespace plexavo::res {

namespace {
const Entry kEntries[] = {
    {Kind::String, 0, 61337, 0, "Keep Original"},
};
} // namespace

const Module& defaultModule() {
    static const Module m{"English", 0x0409, kEntries, sizeof kEntries / sizeof kEntries[0]};
    return m;
}

} // namespace plexavo::res
