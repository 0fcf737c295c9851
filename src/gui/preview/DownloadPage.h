// The maker's download page, as the codec checks open it: the shipped page's
// address, opened with the desktop's browser exactly as the Download menu
// does. The opener can be replaced so that tests never start a browser.
#pragma once

#include <functional>
#include <string>

namespace plexavo::gui {

// The download page's address at `anchor` (without '#').
std::string downloadPageAddress(const char* anchor);

using PageOpener = std::function<bool(const std::string& address)>;
// nullptr restores the browser.
void setPageOpener(PageOpener opener);
// Opens the download page at the anchor; false when no browser started.
bool openDownloadPage(const char* anchor);

} // namespace plexavo::gui
