#include "gui/common/DialogUnits.h"

#include <QFontMetricsF>
#include <QtMath>

namespace plexavo::gui {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_charWidth = metrics.horizontalAdvance(alphabet) / alphabet.size();
    m_charHeight = metrics.height();
}

int DialogUnits::x(int units) const {
    return qRound(units * m_charWidth / 4.0);
}

int DialogUnits::y(int units) const {
    return qRound(units * m_charHeight / 8.0);
}

} // namespace plexavo::gui
