// Whether every text of a window shows whole: each visible label, push
// button, check box, radio button and group-box title has the room its text
// needs (the text's own extent in the widget's font, fallback fonts of
// Chinese and Japanese included), and lies inside its parent. Meant for a
// window laid out in each language of the interface.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOption>
#include <QTextDocument>
#include <QWidget>

#include <climits>

namespace text_fit {

inline QString describe(const QWidget* w, const QString& text, const QSize& needs,
                        const QSize& has) {
    QString shown = text;
    shown.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return QStringLiteral("%1 %2 \"%3\" needs %4x%5, has %6x%7")
        .arg(QString::fromLatin1(w->metaObject()->className()), w->objectName(), shown)
        .arg(needs.width())
        .arg(needs.height())
        .arg(has.width())
        .arg(has.height());
}

// The extent of a plain text set in `w`'s font within `width` (wrapped at
// words when `wrap`), as QLabel and the styles lay it out.
inline QSize plainTextExtent(const QWidget* w, const QString& text, int flags, int width) {
    const QRect room(0, 0, width > 0 ? width : INT_MAX / 2, INT_MAX / 2);
    // Blanks at the end of a line take room but show nothing.
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
    return w->fontMetrics().boundingRect(room, flags, lines.join(QLatin1Char('\n'))).size();
}

inline void checkLabel(QLabel* label, QStringList& clipped) {
    if (label->text().isEmpty())
        return;
    const int margin = label->margin();
    const QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    const bool rich = label->textFormat() == Qt::RichText ||
                      (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
    QSize needs;
    if (rich) {
        QTextDocument document;
        document.setDefaultFont(label->font());
        document.setHtml(label->text());
        document.setDocumentMargin(0);
        if (label->wordWrap())
            document.setTextWidth(room.width());
        needs = document.size().toSize();
    } else {
        int flags = Qt::TextExpandTabs | (label->wordWrap() ? Qt::TextWordWrap : 0);
        if (label->buddy())
            flags |= Qt::TextShowMnemonic;
        needs = plainTextExtent(label, label->text(), flags, label->wordWrap() ? room.width() : 0);
    }
    if (needs.width() > room.width() || needs.height() > room.height())
        clipped << describe(label, label->text(), needs, room.size());
}

inline void checkButton(QAbstractButton* button, QStringList& clipped) {
    if (button->text().isEmpty())
        return;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    QStyle::SubElement contents;
    if (qobject_cast<QPushButton*>(button))
        contents = QStyle::SE_PushButtonContents;
    else if (qobject_cast<QCheckBox*>(button))
        contents = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<QRadioButton*>(button))
        contents = QStyle::SE_RadioButtonContents;
    else
        return; // tool buttons: the toolbar's own test
    const QRect room = button->style()->subElementRect(contents, &option, button);
    QSize needs = plainTextExtent(button, button->text(), Qt::TextShowMnemonic, 0);
    if (!option.icon.isNull() && contents == QStyle::SE_PushButtonContents)
        needs.rwidth() += option.iconSize.width() + 4;
    if (needs.width() > room.width() || needs.height() > room.height())
        clipped << describe(button, button->text(), needs, room.size());
}

inline void checkGroupTitle(QGroupBox* box, QStringList& clipped) {
    if (box->title().isEmpty())
        return;
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.lineWidth = 1;
    option.midLineWidth = 0;
    option.textAlignment = Qt::Alignment(box->alignment());
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (box->isCheckable())
        option.subControls |= QStyle::SC_GroupBoxCheckBox;
    const QRect title =
        box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    const QSize needs = plainTextExtent(box, box->title(), Qt::TextShowMnemonic, 0);
    if (!box->rect().contains(title) || title.width() < needs.width() ||
        title.height() < needs.height())
        clipped << describe(box, box->title(), needs, title.intersected(box->rect()).size());
}

// Each shown text of `window` (itself included) that does not show whole.
inline QStringList clippedTexts(QWidget* window) {
    QStringList clipped;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* w : widgets) {
        if (!w->isVisible())
            continue;
        const bool hasText = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                             qobject_cast<QGroupBox*>(w);
        if (!hasText)
            continue;
        if (w != window && w->parentWidget() && !w->parentWidget()->rect().contains(w->geometry()))
            clipped << QStringLiteral("%1 %2 reaches out of its parent %3")
                           .arg(QString::fromLatin1(w->metaObject()->className()), w->objectName(),
                                w->parentWidget()->objectName());
        if (auto* label = qobject_cast<QLabel*>(w))
            checkLabel(label, clipped);
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            checkButton(button, clipped);
        else if (auto* box = qobject_cast<QGroupBox*>(w))
            checkGroupTitle(box, clipped);
    }
    return clipped;
}

} // namespace text_fit
