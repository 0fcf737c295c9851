#include "gui/common/ScriptHeights.h"

#include <QFontMetrics>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace plexavo::gui {

QString tallScriptsSample() {
    // Å g É, 中 (Chinese), あ (kana).
    return QString::fromUtf8("\xC3\x85g\xC3\x89\xE4\xB8\xAD\xE3\x81\x82");
}

int lineHeightForEveryScript(const QFont& font) {
    const QFontMetrics metrics(font);
    QTextLayout layout(tallScriptsSample(), font);
    layout.beginLayout();
    const QTextLine line = layout.createLine(); // with whatever fallback fonts it takes
    layout.endLayout();
    // Lines of a label are stacked the font's leading apart.
    const int needed = static_cast<int>(std::ceil(metrics.leading() + line.height()));
    return std::max(metrics.lineSpacing(), needed);
}

} // namespace plexavo::gui
