#include "gui/preview/DownloadPage.h"

#include "engine/services/OpenWithBrowser.h"

namespace plexavo::preview {

namespace {
PageOpener& opener() {
    static PageOpener current;
    return current;
}
} // namespace

std::string downloadPageAddress(const char* anchor) {
    return pages::downloadPageUrl(std::string("#") + (anchor ? anchor : ""));
}

void setPageOpener(PageOpener replacement) {
    opener() = std::move(replacement);
}

bool openDownloadPage(const char* anchor) {
    const std::string address = downloadPageAddress(anchor);
    if (opener())
        return opener()(address);
    return OpenWithBrowser(address.c_str(), SW_SHOWNORMAL) > kStartNoAssociation;
}

} // namespace plexavo::preview
