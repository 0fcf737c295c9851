#include "gui/widgets/ToolBar.h"

#include <QAction>
#include <QDir>
#include <QFontMetrics>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <QToolButton>

namespace plexavo::gui {

namespace {

// A plain pictogram for a name no theme knows, so no button is ever blank.
QIcon drawnIcon(const QString& name) {
    QPixmap pixmap(ToolBar::kImageSize, ToolBar::kImageSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x3d, 0x3d, 0x3d), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0x3d, 0x3d, 0x3d));
    const int c = ToolBar::kImageSize / 2;
    if (name == QLatin1String("list-add")) {
        p.drawLine(c, 10, c, 38);
        p.drawLine(10, c, 38, c);
    } else if (name == QLatin1String("list-remove")) {
        p.drawLine(10, c, 38, c);
    } else if (name == QLatin1String("edit-clear-all")) {
        p.drawLine(12, 12, 36, 36);
        p.drawLine(36, 12, 12, 36);
    } else if (name == QLatin1String("go-up") || name == QLatin1String("go-down")) {
        const bool up = name == QLatin1String("go-up");
        QPainterPath arrow;
        arrow.moveTo(c, up ? 8 : 40);
        arrow.lineTo(10, up ? 26 : 22);
        arrow.lineTo(38, up ? 26 : 22);
        arrow.closeSubpath();
        p.drawPath(arrow);
        p.drawLine(c, up ? 26 : 22, c, up ? 40 : 8);
    } else if (name == QLatin1String("media-playback-start")) {
        QPainterPath play;
        play.moveTo(14, 10);
        play.lineTo(38, c);
        play.lineTo(14, 38);
        play.closeSubpath();
        p.drawPath(play);
    } else if (name == QLatin1String("media-record")) {
        p.setBrush(QColor(0xc0, 0x1c, 0x28));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPoint(c, c), 15, 15);
    } else {
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(10, 10, 28, 28, 4, 4);
    }
    return QIcon(pixmap);
}

} // namespace

void ToolBar::prepareIconThemes() {
    // Without a desktop platform theme (offscreen, a bare X server) Qt looks
    // for themes only in its own resources: add the XDG icon folders.
    QStringList paths = QIcon::themeSearchPaths();
    QStringList dataDirs;
    const QString home = QDir::homePath();
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    dataDirs.append(dataHome.isEmpty() ? home + QStringLiteral("/.local/share")
                                       : QString::fromLocal8Bit(dataHome));
    const QByteArray systemDirs = qgetenv("XDG_DATA_DIRS");
    dataDirs.append(QString::fromLocal8Bit(systemDirs.isEmpty()
                                               ? QByteArray("/usr/local/share:/usr/share")
                                               : systemDirs)
                        .split(QLatin1Char(':'), Qt::SkipEmptyParts));
    QStringList wanted{home + QStringLiteral("/.icons")};
    for (const QString& dir : dataDirs)
        wanted.append(dir + QStringLiteral("/icons"));
    bool changed = false;
    for (const QString& dir : wanted) {
        if (!paths.contains(dir) && QDir(dir).exists()) {
            paths.append(dir);
            changed = true;
        }
    }
    if (changed)
        QIcon::setThemeSearchPaths(paths);
    // The desktop's theme first, Adwaita for what it lacks; with no desktop
    // theme at all (Qt then asks no fallback) Adwaita is the theme. Nor is
    // hicolor, what Qt names without a desktop, a theme of its own: it is
    // the base every theme inherits, and looked in first it costs the start
    // the parse of its 650 folders (5.6 ms against 1.1 for Adwaita) before
    // any icon is found in Adwaita anyway.
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
}

ToolBar::ToolBar(QWidget* parent) : QToolBar(parent) {
    prepareIconThemes();
    setObjectName(QStringLiteral("ctl%1").arg(0xE800));
    setMovable(false);
    setFloatable(false);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(kImageSize, kImageSize));
    setContextMenuPolicy(Qt::PreventContextMenu);
}

QIcon ToolBar::themeIcon(const QString& name, bool* fromTheme) {
    QIcon icon = QIcon::fromTheme(name);
    if (icon.isNull() || icon.availableSizes().isEmpty()) {
        // A desktop theme without the name: try the fallback theme by hand,
        // as some Qt versions stop at the first theme they find.
        const QString saved = QIcon::themeName();
        QIcon::setThemeName(QIcon::fallbackThemeName());
        icon = QIcon::fromTheme(name);
        QIcon::setThemeName(saved);
    }
    const bool found = !icon.isNull() && !icon.availableSizes().isEmpty();
    if (fromTheme)
        *fromTheme = found;
    return found ? icon : drawnIcon(name);
}

bool ToolBar::setImageLists(int imageSize, const QStringList& iconNames) {
    setIconSize(QSize(imageSize, imageSize));
    bool allFound = true;
    int next = 0;
    for (QAction* action : actions()) {
        if (action->isSeparator() || next >= iconNames.size())
            continue;
        bool found = false;
        action->setIcon(themeIcon(iconNames[next++], &found));
        allFound = allFound && found;
    }
    return allFound;
}

void ToolBar::setButtonTexts(const QStringList& texts, bool resize) {
    if (resize)
        setIconSize(QSize(kImageSize, kImageSize));
    const QList<QAction*> buttons = actions();
    QList<QToolButton*> tools;
    for (int i = 0; i < buttons.size() && i < texts.size(); ++i) {
        if (buttons[i]->isSeparator())
            continue;
        // The button's own text; the menu keeps its text with the mnemonic.
        buttons[i]->setIconText(texts[i]);
        if (auto* button = qobject_cast<QToolButton*>(widgetForAction(buttons[i]))) {
            button->setAccessibleName(texts[i]);
            tools.append(button);
        }
    }
    sizeButtonsAlike(tools);
    // Eight buttons of the widest label's width may not fit the window's
    // fixed width (German: "Alle entfernen"): then labels of two or more
    // words take two lines, and the widest word sets the width.
    const int room = parentWidget() ? parentWidget()->width() : QWIDGETSIZE_MAX;
    if (layout())
        layout()->invalidate();
    if (sizeHint().width() > room) {
        for (int i = 0; i < buttons.size() && i < texts.size(); ++i)
            if (!buttons[i]->isSeparator())
                buttons[i]->setIconText(inTwoLines(texts[i], fontMetrics()));
        sizeButtonsAlike(tools);
    }
    update();
}

void ToolBar::sizeButtonsAlike(const QList<QToolButton*>& tools) {
    // One size for every button, the widest label's in this language and
    // never below the template's 68 x 68: the bar does not jump from button
    // to button, and only a language switch changes it.
    // A label gets half a blank of air on either side inside the button's
    // frame: Qt's own hint asks two blanks, which would cost eight buttons
    // the room the fixed window has for them.
    QSize shared(kButtonSize, kButtonSize);
    for (QToolButton* button : tools) {
        button->setMinimumSize(0, 0);
        button->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        button->ensurePolished();
        const QFontMetrics metrics = button->fontMetrics();
        const int frame =
            button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
        const int label = metrics.size(Qt::TextShowMnemonic, button->text()).width() +
                          metrics.horizontalAdvance(QLatin1Char(' ')) + 2 * frame;
        shared = shared.expandedTo(QSize(label, button->sizeHint().height()));
    }
    for (QToolButton* button : tools)
        button->setFixedSize(shared);
}

QString ToolBar::inTwoLines(const QString& label, const QFontMetrics& metrics) {
    // The break at the blank that leaves the longer line shortest.
    QString best = label;
    int bestWidth = metrics.horizontalAdvance(label);
    for (qsizetype at = label.indexOf(QLatin1Char(' ')); at > 0;
         at = label.indexOf(QLatin1Char(' '), at + 1)) {
        const int width = std::max(metrics.horizontalAdvance(label.left(at)),
                                   metrics.horizontalAdvance(label.mid(at + 1)));
        if (width < bestWidth) {
            bestWidth = width;
            best = label.left(at) + QLatin1Char('\n') + label.mid(at + 1);
        }
    }
    return best;
}

} // namespace plexavo::gui
