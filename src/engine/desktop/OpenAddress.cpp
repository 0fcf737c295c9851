#include "engine/desktop/OpenAddress.h"

#include "engine/platform/DebugLog.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <dlfcn.h>

#include <csignal>
#include <memory>
#include <sys/syscall.h>
#include <type_traits>
#include <unistd.h>

namespace plexavo::desktop {

namespace {

// GIO (and GObject, libmount, libselinux behind it), loaded the first time
// an address is opened: the window starts without them. GLib itself is
// linked; Qt's event loop has it loaded anyway.
struct Gio {
    decltype(&g_object_unref) objectUnref = nullptr;
    decltype(&g_type_check_instance_is_a) instanceIsA = nullptr;
    decltype(&g_desktop_app_info_get_type) desktopAppInfoType = nullptr;
    decltype(&g_io_error_quark) ioErrorQuark = nullptr;
    decltype(&g_app_info_get_default_for_uri_scheme) defaultForUriScheme = nullptr;
    decltype(&g_app_info_get_default_for_type) defaultForType = nullptr;
    decltype(&g_desktop_app_info_launch_uris_as_manager) launchUrisAsManager = nullptr;
    decltype(&g_app_info_launch_uris) launchUris = nullptr;
    decltype(&g_app_info_launch_default_for_uri) launchDefaultForUri = nullptr;
};

// nullptr when GIO cannot be loaded (the log says why). Loaded once, kept.
const Gio* gio() {
    static const Gio* const loaded = []() -> const Gio* {
        void* handle = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!handle) {
            const char* why = dlerror();
            platform::writeLog("**Error: GIO cannot be loaded: %s", why ? why : "no reason given");
            return nullptr;
        }
        static Gio table;
        bool complete = true;
        auto bind = [&](auto& function, const char* name) {
            function =
                reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
            complete = complete && function;
        };
        bind(table.objectUnref, "g_object_unref");
        bind(table.instanceIsA, "g_type_check_instance_is_a");
        bind(table.desktopAppInfoType, "g_desktop_app_info_get_type");
        bind(table.ioErrorQuark, "g_io_error_quark");
        bind(table.defaultForUriScheme, "g_app_info_get_default_for_uri_scheme");
        bind(table.defaultForType, "g_app_info_get_default_for_type");
        bind(table.launchUrisAsManager, "g_desktop_app_info_launch_uris_as_manager");
        bind(table.launchUris, "g_app_info_launch_uris");
        bind(table.launchDefaultForUri, "g_app_info_launch_default_for_uri");
        if (!complete) {
            platform::writeLog("**Error: GIO lacks a function the program calls");
            return nullptr;
        }
        return &table;
    }();
    return loaded;
}

struct ObjectUnref {
    void operator()(gpointer object) const { gio()->objectUnref(object); }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct Free {
    void operator()(gpointer memory) const { g_free(memory); }
};
using AppInfo = std::unique_ptr<GAppInfo, ObjectUnref>;
using Error = std::unique_ptr<GError, ErrorFree>;
using Text = std::unique_ptr<char, Free>;

OpenResult spawnFailure(int code) {
    switch (code) {
    case G_SPAWN_ERROR_NOENT:
        return OpenResult::FileNotFound;
    case G_SPAWN_ERROR_CHDIR:
    case G_SPAWN_ERROR_NOTDIR:
    case G_SPAWN_ERROR_NAMETOOLONG:
    case G_SPAWN_ERROR_LOOP:
        return OpenResult::PathNotFound;
    case G_SPAWN_ERROR_ACCES:
    case G_SPAWN_ERROR_PERM:
    case G_SPAWN_ERROR_ISDIR:
        return OpenResult::AccessDenied;
    case G_SPAWN_ERROR_NOMEM:
    case G_SPAWN_ERROR_TOO_BIG:
        return OpenResult::OutOfMemory;
    case G_SPAWN_ERROR_NOEXEC:
    case G_SPAWN_ERROR_INVAL:
    case G_SPAWN_ERROR_LIBBAD:
        return OpenResult::BadFormat;
    default:
        return OpenResult::OutOfResources;
    }
}

OpenResult ioFailure(int code) {
    switch (code) {
    case G_IO_ERROR_NOT_SUPPORTED: // GIO's word for "no application handles this"
        return OpenResult::NoHandler;
    case G_IO_ERROR_NOT_FOUND:
        return OpenResult::FileNotFound;
    case G_IO_ERROR_NOT_DIRECTORY:
    case G_IO_ERROR_INVALID_FILENAME:
    case G_IO_ERROR_FILENAME_TOO_LONG:
        return OpenResult::PathNotFound;
    case G_IO_ERROR_PERMISSION_DENIED:
        return OpenResult::AccessDenied;
    default:
        return OpenResult::OutOfResources;
    }
}

OpenResult failureOf(const GError* error) {
    if (!error)
        return OpenResult::OutOfResources;
    if (error->domain == G_SPAWN_ERROR)
        return spawnFailure(error->code);
    if (gio() && error->domain == gio()->ioErrorQuark())
        return ioFailure(error->code);
    if (error->domain == G_SHELL_ERROR) // an Exec line that does not split
        return OpenResult::BadHandler;
    return OpenResult::OutOfResources;
}

// Runs in the started program before it becomes the handler: a browser outlives
// this program and ignores its terminal's Ctrl+C, and starts with default signal
// handling and nothing blocked, whatever this program's threads had set up.
// Only async-signal-safe calls: this runs between fork and exec.
constexpr unsigned long kKernelSignalSetBytes = 64 / 8;

void detach(gpointer) {
    setsid();
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Through the kernel: the C library refuses the two signals it reserves
    // for its threads (32 and 33), and a session that ignores them would
    // hand that on to the browser. All zeros is "default, no flags, nothing
    // masked" in every architecture's layout of the kernel's structure.
    const unsigned char byDefault[64] = {};
    for (int signal = 1; signal < NSIG; ++signal)
        if (signal != SIGKILL && signal != SIGSTOP)
            syscall(SYS_rt_sigaction, signal, byDefault, nullptr, kKernelSignalSetBytes);
}

// The desktop's browser for an address: the handler of its scheme, else the
// handler of web pages (the program's own pages are file:// addresses).
AppInfo browserFor(const Gio& gio, const std::string& address) {
    if (Text scheme{g_uri_parse_scheme(address.c_str())})
        if (AppInfo app{gio.defaultForUriScheme(scheme.get())})
            return app;
    return AppInfo(gio.defaultForType("text/html", FALSE));
}

bool launch(const Gio& gio, GAppInfo* app, const std::string& address, GError** error) {
    GList uris{const_cast<char*>(address.c_str()), nullptr, nullptr};
    // G_IS_DESKTOP_APP_INFO, through the loaded library.
    if (gio.instanceIsA(reinterpret_cast<GTypeInstance*>(app), gio.desktopAppInfoType()))
        return gio.launchUrisAsManager(reinterpret_cast<GDesktopAppInfo*>(app), &uris, nullptr,
                                       G_SPAWN_SEARCH_PATH, detach, nullptr, nullptr, nullptr,
                                       error);
    return gio.launchUris(app, &uris, nullptr, error);
}

OpenResult reported(bool started, GError* raw, const char* what, const std::string& target) {
    const Error error(raw);
    if (started)
        return OpenResult::Started;
    platform::writeLog("%s: cannot open %s: %s", what, target.c_str(),
                       error ? error->message : "no reason given");
    return failureOf(error.get());
}

} // namespace

OpenResult openInBrowser(const std::string& address) {
    const Gio* loaded = gio();
    if (!loaded) {
        platform::writeLog("Browser: cannot open %s without GIO", address.c_str());
        return OpenResult::NoHandler;
    }
    GError* error = nullptr;
    bool started = false;
    if (const AppInfo app = browserFor(*loaded, address))
        started = launch(*loaded, app.get(), address, &error);
    else // what the desktop opens this kind of file with; in a sandbox, its portal
        started = loaded->launchDefaultForUri(address.c_str(), nullptr, &error);
    return reported(started, error, "Browser", address);
}

OpenResult openWithDesktop(const std::string& pathOrUrl) {
    // xdg-open takes a name starting with '-' for an option.
    std::string target = !pathOrUrl.empty() && pathOrUrl[0] == '-' ? "./" + pathOrUrl : pathOrUrl;
    char program[] = "xdg-open";
    char* argv[] = {program, target.data(), nullptr};
    GError* error = nullptr;
    const bool started = g_spawn_async(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, detach, nullptr,
                                       nullptr, &error);
    return reported(started, error, "xdg-open", target);
}

} // namespace plexavo::desktop
