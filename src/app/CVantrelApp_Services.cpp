// The shell services as the main window uses them. The settings are kept in
// the process until the settings store takes them over.
#include "app/CVantrelApp_Services.h"

#include "platform/Platform.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <dlfcn.h>
#include <map>
#include <mutex>

namespace plexavo::shell {

namespace {
std::mutex g_storeMutex;
std::map<std::string, std::string>& store() {
    static std::map<std::string, std::string> values;
    return values;
}
std::atomic<bool> g_toolTipsHidden{false};
} // namespace

std::optional<std::string> readString(const char* name) {
    std::lock_guard lock(g_storeMutex);
    auto it = store().find(name);
    if (it == store().end())
        return std::nullopt;
    return it->second;
}

bool writeString(const char* name, const std::string& value) {
    std::lock_guard lock(g_storeMutex);
    store()[name] = value;
    return true;
}

bool toolTipsHiddenAtStart() {
    return g_toolTipsHidden;
}
void setToolTipsHiddenAtStart(bool hidden) {
    g_toolTipsHidden = hidden;
}

bool startDetached(const std::string& program, const std::vector<std::string>& arguments) {
    QStringList args;
    for (const auto& a : arguments)
        args.append(QString::fromStdString(a));
    // An explicit argv, no shell; the started program is reaped for us.
    return QProcess::startDetached(QString::fromStdString(program), args);
}

bool openWithBrowser(const std::string& address) {
    return startDetached("xdg-open", {address});
}

std::string makerPageAddress(const std::string& page, const std::string& anchor) {
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(platform::programFolder() + page));
    return url.toString(QUrl::FullyEncoded).toStdString() + anchor;
}

std::string helpDocumentPath() {
    return platform::programFolder() + "Plexavo.html";
}

Version programVersion() {
    return {PLEXAVO_VERSION_MAJOR, PLEXAVO_VERSION_MINOR, PLEXAVO_VERSION_PATCH};
}

Version mediaFrameworkVersion() {
    // Asked of the installed runtime, as the version of a system library is.
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

bool mediaFrameworkPresent(const Version& v) {
    return v.major > kMediaFrameworkMajor ||
           (v.major == kMediaFrameworkMajor && v.minor >= kMediaFrameworkMinor);
}

} // namespace plexavo::shell
