#include "gui/preview/DownloadPage.h"

#include "engine/desktop/OpenAddress.h"
#include "engine/desktop/ShippedPages.h"

namespace plexavo::gui {

namespace {
PageOpener& opener() {
    static PageOpener current;
    return current;
}
} // namespace

std::string downloadPageAddress(const char* anchor) {
    return desktop::downloadPageUrl(std::string("#") + (anchor ? anchor : ""));
}

void setPageOpener(PageOpener replacement) {
    opener() = std::move(replacement);
}

bool openDownloadPage(const char* anchor) {
    const std::string address = downloadPageAddress(anchor);
    if (opener())
        return opener()(address);
    return desktop::openInBrowser(address) == desktop::OpenResult::Started;
}

} // namespace plexavo::gui
