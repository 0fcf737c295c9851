#include "dshow/DownloadPage.h"

#include "platform/Platform.h"

#include <QDesktopServices>
#include <QUrl>

namespace plexavo::dshow {

namespace {
PageOpener& opener() {
    static PageOpener current;
    return current;
}
} // namespace

std::string downloadPageAddress(const char* anchor) {
    QUrl url = QUrl::fromLocalFile(QString::fromStdString(platform::programFolder()) +
                                   QStringLiteral("download.html"));
    if (anchor && *anchor)
        url.setFragment(QString::fromUtf8(anchor));
    return url.toString(QUrl::FullyEncoded).toStdString();
}

void setPageOpener(PageOpener replacement) {
    opener() = std::move(replacement);
}

bool openDownloadPage(const char* anchor) {
    const std::string address = downloadPageAddress(anchor);
    if (opener())
        return opener()(address);
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}

} // namespace plexavo::dshow
