#include "gui/common/ProgramIcon.h"

#include <QDir>
#include <QImage>
#include <QPixmap>

namespace plexavo::gui {

QIcon builtInProgramIcon() {
    // The sizes drawn at build time where there are any, else the SVG
    // itself: it would be parsed and drawn in four sizes, through the SVG
    // icon plugin, before the window shows.
    QIcon builtIn;
    // (No name filter: a wildcard would start the regular-expression
    // compiler for this alone.)
    const QDir drawn(QStringLiteral(":/plexavo/window-icon"));
    for (const QString& name : drawn.entryList(QDir::Files)) {
        QImage image;
        if (image.load(drawn.filePath(name), "PNG"))
            builtIn.addPixmap(QPixmap::fromImage(image));
    }
    if (builtIn.isNull())
        builtIn = QIcon(QStringLiteral(":/plexavo/com.vantrel.Plexavo.svg"));
    return builtIn;
}

bool themeMayDrawProgramIcon() {
    return QIcon::themeName() != QLatin1String("Adwaita");
}

QIcon programIcon() {
    if (!themeMayDrawProgramIcon())
        return builtInProgramIcon();
    return QIcon::fromTheme(QStringLiteral("com.vantrel.Plexavo"), builtInProgramIcon());
}

} // namespace plexavo::gui
