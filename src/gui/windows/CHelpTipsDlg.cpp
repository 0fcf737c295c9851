#include "gui/windows/CHelpTipsDlg.h"

#include "engine/res/DialogLabels.h"
#include "gui/common/UiText.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

namespace plexavo {

CHelpTipsDlg::CHelpTipsDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dlg%1").arg(kDialogId));
    setWindowTitle(ui::dialogText(kDialogId, 0));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* steps = new QLabel(ui::dialogText(kDialogId, res::label::tips::kSteps));
    steps->setObjectName(QStringLiteral("labelSteps"));
    steps->setTextFormat(Qt::PlainText);
    // Read by a screen reader when the window opens.
    steps->setAccessibleName(steps->text());

    m_hide = new QCheckBox(ui::dialogText(kDialogId, kHideBox));
    m_hide->setObjectName(QStringLiteral("ctl%1").arg(kHideBox));
    m_hide->setAccessibleName(m_hide->text());
    // The box is the window's only way out besides Esc: clicking it is OK.
    connect(m_hide, &QCheckBox::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 12);
    layout->setSpacing(12);
    layout->addWidget(steps);
    layout->addWidget(m_hide);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_hide->setFocus();
}

} // namespace plexavo
