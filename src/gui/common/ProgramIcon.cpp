#include "gui/common/ProgramIcon.h"

namespace plexavo::gui {

QIcon programIcon() {
    return QIcon::fromTheme(QStringLiteral("com.vantrel.Plexavo"),
                            QIcon(QStringLiteral(":/plexavo/com.vantrel.Plexavo.svg")));
}

} // namespace plexavo::gui
