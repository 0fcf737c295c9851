// The checks made before a conversion to the WMV and OGM targets: the encoder
// core is asked whether it can write the format; when it cannot, the user is
// offered the download page and asked to restart after installing.
#pragma once

class QWidget;

namespace plexavo::gui {

// Each returns true when the component is missing: the conversion must not
// start. The user has then seen the question and, on OK, the page and the
// restart notice.
bool wmvWriterMissing(QWidget* parent);
bool oggWriterMissing(QWidget* parent);

// The Convert command's call: runs the check that `targetFormat` needs (WMV
// and OGM only; every other target passes at once). True when the
// conversion may start.
bool checkCodecsBeforeConvert(QWidget* parent, int targetFormat);

// Whether the encoder core says it can write "wmv" or "ogm". A core that is
// missing, fails or does not answer within the time allowed cannot.
bool coreCanWrite(const char* format);

} // namespace plexavo::gui
