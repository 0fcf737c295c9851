#include "gui/common/ScriptHeights.h"

#include <QFontMetrics>
#include <QHash>
#include <QTextLayout>

#include <cmath>
#include <thread>

namespace plexavo::gui {

namespace {

// One line of text in font, as a label or a list lays it out.
qreal lineHeight(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    const QTextLine line = layout.createLine(); // with whatever fallback fonts it takes
    layout.endLayout();
    return line.height();
}

struct Heights {
    int ownLetters = 0;  // a line of ownLettersSample(), rounded up
    int everyScript = 0; // a line of tallScriptsSample(), rounded up
};

// Measured on a thread of its own, whose font cache goes with it: the
// fallback fonts the sample takes (Noto Sans CJK: some 2 MiB of pages and
// shaping tables) would otherwise stay loaded for the program's life, though
// only a name in those scripts needs them. The window's thread waits for the
// answer, so nothing else uses the font meanwhile; it is kept by the font.
const Heights& heightsOf(const QFont& font) {
    static QHash<QFont, Heights> measured; // the window's thread alone
    if (const auto it = measured.constFind(font); it != measured.constEnd())
        return it.value();
    // A copy with data of its own (the same value set again detaches it): the
    // thread's font cache attaches its engines to that, not to the caller's.
    QFont own = font;
    own.setStyleStrategy(font.styleStrategy());
    Heights heights;
    std::thread([&] {
        heights.ownLetters = static_cast<int>(std::ceil(lineHeight(ownLettersSample(), own)));
        heights.everyScript = static_cast<int>(std::ceil(lineHeight(tallScriptsSample(), own)));
    }).join();
    return *measured.insert(font, heights);
}

} // namespace

QString ownLettersSample() {
    // Å g É.
    return QString::fromUtf8("\xC3\x85g\xC3\x89");
}

QString tallScriptsSample() {
    // Å g É, 中 (Chinese), あ (kana).
    return ownLettersSample() + QString::fromUtf8("\xE4\xB8\xAD\xE3\x81\x82");
}

int lineHeightForEveryScript(const QFont& font) {
    const QFontMetrics metrics(font);
    // Lines of a label are stacked the font's leading apart.
    return std::max(metrics.lineSpacing(), metrics.leading() + heightsOf(font).everyScript);
}

int extraHeightForEveryScript(const QFont& font) {
    const Heights& heights = heightsOf(font);
    return std::max(0, heights.everyScript - heights.ownLetters);
}

} // namespace plexavo::gui
