// A small language pack for the tests, shaped by compile definitions:
// PACK_ID, PACK_NAME, PACK_VERSION (the program version it is built for), HIGH_BITS, and
// NO_LANGUAGE / NO_NAME / NO_TABLE / BAD_TABLE / NO_VERSION to leave out an export or to
// break the table (FLAKY_TABLE: after the first look).
#include "engine/res/ResourceModule.h"

#include <cstdlib>
#include <string>

#define PACK_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using plexavo::res::Entry;
using plexavo::res::Kind;
using plexavo::res::Module;

#ifdef BAD_TABLE
const char* const kMissing = nullptr;
#else
const char* const kMissing = PACK_NAME " text";
#endif

const Entry kEntries[] = {
    {Kind::String, 0, 61308, 0, PACK_NAME " Add"},
    {Kind::String, 0, 61212, 0, PACK_NAME " %d/%d \"%s\""},
    {Kind::String, 0, 61310, 0, kMissing},
    {Kind::Menu, 128, 0, 0, "&" PACK_NAME},
    {Kind::Menu, 128, 32801, 1, PACK_NAME " &Add..."},
};
const Module kModule{PACK_NAME, PACK_ID, kEntries, sizeof kEntries / sizeof kEntries[0]};

} // namespace

#ifndef NO_LANGUAGE
// Only the low 16 bits are the language; HIGH_BITS checks that readers mask.
#ifdef HIGH_BITS
PACK_EXPORT unsigned GetLanguage() {
    return PACK_ID | 0x7FFF0000u;
}
#else
PACK_EXPORT unsigned GetLanguage() {
    return PACK_ID;
}
#endif
#endif
#ifndef NO_NAME
PACK_EXPORT const char* GetLanguageName() {
    return PACK_NAME;
}
#endif
#if defined(FLAKY_TABLE)
// Good for the first caller only, then broken: a pack that breaks between the
// listing and the switch. The count lives in the environment because the
// library is unloaded after each query.
PACK_EXPORT const Module* GetResourceModuleV1() {
    const char* seen = std::getenv("PLEXAVO_TEST_FLAKY_CALLS");
    const int calls = seen ? std::atoi(seen) : 0;
    setenv("PLEXAVO_TEST_FLAKY_CALLS", std::to_string(calls + 1).c_str(), 1);
    return calls == 0 ? &kModule : nullptr;
}
#elif !defined(NO_TABLE)
PACK_EXPORT const Module* GetResourceModuleV1() {
    return &kModule;
}
#endif
#ifndef NO_VERSION
PACK_EXPORT const char PlexavoPackVersion[] = PACK_VERSION;
#endif
