#include "gui/windows/AboutDialog.h"

#include "engine/desktop/ShippedPages.h"
#include "engine/res/DialogLabels.h"
#include "gui/common/ProgramIcon.h"
#include "gui/common/UiText.h"
#include "gui/widgets/HyperLink.h"

#include "PlexavoVersion.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace plexavo::gui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dlg%1").arg(kDialogId));
    const QByteArray product = productName().toUtf8();
    setWindowTitle(str(61921, product.constData()));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("programIcon"));
    icon->setPixmap(programIcon().pixmap(64, 64));
    icon->setFixedSize(64, 64);

    m_title = new QLabel(str(61928, product.constData()));
    m_title->setObjectName(controlName(kTitle));
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    m_title->setFont(titleFont);

    m_version = new QLabel(str(61920, kVersionMajor, kVersionMinor, kVersionPatch));
    m_version->setObjectName(controlName(kVersion));
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* notice = new QLabel(dialogText(kDialogId, res::label::about::kNotice));
    notice->setObjectName(QStringLiteral("labelNotice"));
    notice->setWordWrap(true);
    notice->setMinimumWidth(300);

    m_link = new HyperLink(dialogText(kDialogId, kLink));
    m_link->setObjectName(controlName(kLink));
    m_link->setAccessibleName(dialogText(kDialogId, kLink));
    m_link->setTarget(QString::fromStdString(desktop::homePageUrl()));

    auto* buttons = new QDialogButtonBox;
    auto* ok = buttons->addButton(dialogText(kDialogId, 1), QDialogButtonBox::AcceptRole);
    ok->setObjectName(controlName(1));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(m_title);
    texts->addWidget(m_version);
    texts->addSpacing(6);
    texts->addWidget(notice);
    texts->addWidget(m_link);

    auto* body = new QHBoxLayout;
    body->setSpacing(16);
    body->addWidget(icon, 0, Qt::AlignLeft | Qt::AlignTop);
    body->addLayout(texts, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 12);
    layout->addLayout(body);
    layout->addWidget(buttons);
    setMinimumWidth(420);
    ok->setFocus();
}

QString AboutDialog::versionText() const {
    return m_version->text();
}
QString AboutDialog::linkTarget() const {
    return m_link->target();
}

} // namespace plexavo::gui
