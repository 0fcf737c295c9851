// Room for text in every language of the interface. Chinese and Japanese are
// drawn with a fallback font taller than the window's own, so a line measured
// by the window font's metrics alone cuts the bottom off their characters.
#pragma once

#include <QFont>
#include <QString>

namespace plexavo::gui {

// A line with the tallest letters the interface languages use: accented
// Latin capitals and a descender, Chinese, and Japanese kana. No other
// script: measuring one that no installed font shapes costs a warning per
// font on every start.
QString tallScriptsSample();
// Its first part, the letters the window's own font draws.
QString ownLettersSample();

// The height one line of `font` takes when it holds any of them: at least
// the font's own line spacing.
int lineHeightForEveryScript(const QFont& font);
// How much taller a line of `font` holding any of them is than one of
// ownLettersSample(): what a layout measured with the latter must add.
int extraHeightForEveryScript(const QFont& font);

} // namespace plexavo::gui
