#include "engine/i18n/ResourceText.h"

#include "engine/platform/DebugLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace plexavo::i18n {

using platform::writeLog;
using res::defaultModule;
using res::Kind;
using res::Module;

namespace {
std::atomic<const Module*> g_current{nullptr};
}

void setCurrentModule(const Module* module) {
    g_current.store(module);
}

const Module& currentModule() {
    const Module* m = g_current.load();
    return m ? *m : defaultModule();
}

const char* findText(const Module& module, Kind kind, int owner, int id) {
    for (std::size_t i = 0; i < module.count; ++i) {
        const res::Entry& e = module.entries[i];
        if (e.kind == kind && e.owner == owner && e.id == id)
            return e.text;
    }
    return nullptr;
}

std::string conversionSignature(const char* text) {
    std::string sig;
    for (const char* p = text; *p; ++p) {
        if (*p != '%')
            continue;
        ++p;
        if (*p == '%')
            continue;
        while (*p && std::strchr("-+ #0123456789.*hljztL", *p)) {
            if (*p == '*')
                sig += '*';
            ++p;
        }
        if (!*p)
            break;
        sig += *p;
    }
    return sig;
}

std::string loadResString(unsigned id, ...) {
    const Module& module = currentModule();
    const char* text = findText(module, Kind::String, 0, static_cast<int>(id));
    if (!text) {
        writeLog("**Error Loading Resource String:id=%d", static_cast<int>(id));
        return {};
    }
    // A language pack whose text asks for other arguments than the program
    // passes would read garbage off the stack: show such a text unformatted.
    if (&module != &defaultModule()) {
        const char* reference = findText(defaultModule(), Kind::String, 0, static_cast<int>(id));
        if (reference && conversionSignature(text) != conversionSignature(reference)) {
            writeLog("**Resource String %u of %s has mismatched placeholders", id, module.name);
            return text;
        }
    }

    va_list args;
    va_start(args, id);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, text, args);
    va_end(args);
    std::string result;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), text, again);
        result.assign(buffer.data(), static_cast<std::size_t>(needed));
    }
    va_end(again);
    return result;
}

} // namespace plexavo::i18n
