#include "app/CVantrelApp_Services.h"

#include <dlfcn.h>

namespace plexavo::shell {

Version mediaFrameworkVersion() {
    // Asked of the installed runtime, as the version of a system library is:
    // a missing library reads as 0.0 and the view shows its tip.
    Version v;
    void* library = dlopen("libgstreamer-1.0.so.0", RTLD_LAZY | RTLD_LOCAL);
    if (!library)
        return v;
    using VersionFn = void (*)(unsigned*, unsigned*, unsigned*, unsigned*);
    if (auto fn = reinterpret_cast<VersionFn>(dlsym(library, "gst_version"))) {
        unsigned major = 0, minor = 0, micro = 0, nano = 0;
        fn(&major, &minor, &micro, &nano);
        v = {static_cast<int>(major), static_cast<int>(minor), static_cast<int>(micro)};
    }
    dlclose(library);
    return v;
}

bool mediaFrameworkPresent(int major, int minor) {
    return major > kMediaFrameworkMajor ||
           (major == kMediaFrameworkMajor && minor >= kMediaFrameworkMinor);
}

} // namespace plexavo::shell
