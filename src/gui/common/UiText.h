// Texts of the current resource module as Qt strings, for the windows. Every
// window takes its texts through these when it is built (and when it is
// rebuilt after a language switch), never from literals.
#pragma once

#include <QString>

namespace plexavo::gui {

// String-table text `id`, printf-formatted like loadResString (missing: empty).
QString str(unsigned id, ...);
// A dialog's caption (control 0) or a control's text; missing: empty.
QString dialogText(int dialog, int control);
// A command's prompt: the status-bar text and the tooltip ("status\ntip").
QString commandStatus(int command);
QString commandTip(int command);

// The product name: the caption of every message box.
QString productName();

// A label's text as the name of the control beside it: "Start Time:" names
// its edit "Start Time".
QString nameFromLabel(QString text);

// The object name of the control with template id `id` ("ctl1030"), by which
// tests and trials find it.
inline QString controlName(int id) {
    return QStringLiteral("ctl%1").arg(id);
}

} // namespace plexavo::gui
