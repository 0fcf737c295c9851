#include "gui/windows/HelpTipsDialog.h"

#include "engine/res/DialogLabels.h"
#include "gui/common/UiText.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

namespace plexavo::gui {

HelpTipsDialog::HelpTipsDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dlg%1").arg(kDialogId));
    setWindowTitle(dialogText(kDialogId, 0));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* steps = new QLabel(dialogText(kDialogId, res::label::tips::kSteps));
    steps->setObjectName(QStringLiteral("labelSteps"));
    steps->setTextFormat(Qt::PlainText);
    // Read by a screen reader when the window opens.
    steps->setAccessibleName(steps->text());

    m_hide = new QCheckBox(dialogText(kDialogId, kHideBox));
    m_hide->setObjectName(controlName(kHideBox));
    m_hide->setAccessibleName(m_hide->text());
    // The box is the window's only way out besides Esc: ticking it is OK,
    // by mouse, Space or a screen reader's toggle action alike (the last
    // changes the state without a click).
    connect(m_hide, &QCheckBox::toggled, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 12);
    layout->setSpacing(12);
    layout->addWidget(steps);
    layout->addWidget(m_hide);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_hide->setFocus();
}

} // namespace plexavo::gui
