// The maker's download page, as the codec checks open it. The address comes
// from the program's pages next to the binary; opening it goes through a
// replaceable opener so that tests never start a browser.
#pragma once

#include <functional>
#include <string>

namespace plexavo::dshow {

// "file:///<program folder>/download.html#<anchor>" (anchor without '#').
std::string downloadPageAddress(const char* anchor);

using PageOpener = std::function<bool(const std::string& address)>;
// nullptr restores the desktop's opener.
void setPageOpener(PageOpener opener);
// Opens the download page at the anchor; false when nothing could open it.
bool openDownloadPage(const char* anchor);

} // namespace plexavo::dshow
