// What a keyboard and screen-reader user meets in a window: Tab from the
// control that has the focus until the focus comes round again, noting each
// stop and the name a screen reader announces for it. Every control that
// takes the focus is named, whether Tab reaches it or not (the second button
// of a radio group is reached with the arrow keys).
#pragma once

#include <QAccessible>
#include <QApplication>
#include <QRadioButton>
#include <QStringList>
#include <QTest>
#include <QWidget>

namespace tab_walk {

// The name a screen reader announces for `w`.
inline QString spokenName(QWidget* w) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
    return face ? face->text(QAccessible::Name).trimmed() : QString();
}

// A control the user can put the focus on: visible, enabled, taking Tab.
inline bool focusable(QWidget* w) {
    return w->isVisibleTo(w->window()) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) &&
           !w->focusProxy();
}

struct Result {
    QStringList stops;   // object names of the Tab stops, in order
    QStringList unnamed; // object names (or class names) of focusable controls without a name
};

// Walks `window`, which must be shown and active, from its focus widget.
inline Result walk(QWidget* window, int maxStops = 60) {
    Result result;
    auto label = [](QWidget* w) {
        return w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                         : w->objectName();
    };
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->window() == window && focusable(w) && spokenName(w).isEmpty())
            result.unnamed.append(label(w));
    QWidget* start = QApplication::focusWidget();
    if (!start)
        return result;
    QWidget* at = start;
    for (int i = 0; i < maxStops; ++i) {
        result.stops.append(label(at));
        if (spokenName(at).isEmpty() && !result.unnamed.contains(label(at)))
            result.unnamed.append(label(at));
        QTest::keyClick(at, Qt::Key_Tab);
        at = QApplication::focusWidget();
        if (!at || at == start)
            break;
    }
    return result;
}

} // namespace tab_walk
