#include "gui/widgets/HyperLink.h"

#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>

#include <mutex>

namespace plexavo::gui {

const QColor HyperLink::kLinkColor(0, 0, 255);
const QColor HyperLink::kOpenedColor(128, 0, 128);
const QColor HyperLink::kArmedColor(0, 128, 128);

namespace {

// Screen readers see a link they can press, not a static text.
class HyperLinkAccessible : public QAccessibleWidget {
  public:
    explicit HyperLinkAccessible(HyperLink* link) : QAccessibleWidget(link, QAccessible::Link) {}

    HyperLink* link() const { return static_cast<HyperLink*>(widget()); }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            return link()->accessibleName().isEmpty() ? link()->text() : link()->accessibleName();
        case QAccessible::Description:
            return link()->accessibleDescription().isEmpty() ? link()->target()
                                                             : link()->accessibleDescription();
        case QAccessible::Value:
            return link()->target();
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.focusable = true;
        s.traversed = link()->isOpened(); // a visited link
        return s;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction())
            link()->openTarget();
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        return name == pressAction() ? QStringList{QStringLiteral("Space")} : QStringList{};
    }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(HyperLink::staticMetaObject.className()) && object)
        return new HyperLinkAccessible(static_cast<HyperLink*>(object));
    return nullptr;
}

} // namespace

HyperLink::HyperLink(const QString& text, QWidget* parent) : QLabel(text, parent) {
    static std::once_flag factory;
    std::call_once(factory, [] { QAccessible::installFactory(accessibleFactory); });
    setUp();
}

HyperLink::~HyperLink() = default;

void HyperLink::setUp() {
    // The text and the address are shown as they are, never as markup.
    setTextFormat(Qt::PlainText);
    if (m_target.isEmpty())
        m_target = text();
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setMargin(1); // room for the focus frame
    setToolTip(m_target);
    updateColor();
    fitToText();
}

void HyperLink::setTarget(const QString& target) {
    m_target = target;
    if (text().isEmpty())
        setText(target);
    setToolTip(target);
    fitToText();
}

void HyperLink::fitToText() {
    // As wide and high as the text: a click beside it opens nothing.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (parentWidget() && parentWidget()->layout())
        updateGeometry();
    else
        adjustSize();
}

QColor HyperLink::textColor() const {
    if (m_armed)
        return kArmedColor;
    return m_opened ? kOpenedColor : kLinkColor;
}

void HyperLink::updateColor() {
    QPalette p = palette();
    // A disabled link keeps the style's disabled look.
    p.setColor(QPalette::Active, QPalette::WindowText, textColor());
    p.setColor(QPalette::Inactive, QPalette::WindowText, textColor());
    setPalette(p);
    update();
}

bool HyperLink::openInBrowser(QWidget* parent, const std::string& address) {
    const desktop::OpenResult result = desktop::openInBrowser(address);
    if (result == desktop::OpenResult::Started)
        return true;
    QApplication::beep();
    MessageBox::show(parent, errorText(result), QMessageBox::Warning);
    return false;
}

void HyperLink::openTarget() {
    if (!openInBrowser(window(), m_target.toStdString()))
        return;
    m_opened = true;
    updateColor();
    emit opened();
}

QString HyperLink::errorText(desktop::OpenResult result) {
    using desktop::OpenResult;
    // The reasons, texts of the current module.
    unsigned reason = 0;
    switch (result) {
    case OpenResult::Started:
        return {};
    case OpenResult::OutOfResources:
        reason = 62031;
        break;
    case OpenResult::FileNotFound:
        reason = 62032;
        break;
    case OpenResult::PathNotFound:
        reason = 62033;
        break;
    case OpenResult::AccessDenied:
        reason = 62034;
        break;
    case OpenResult::OutOfMemory:
        reason = 62035;
        break;
    case OpenResult::BadFormat:
        reason = 62036;
        break;
    case OpenResult::BadHandler:
        reason = 62038;
        break;
    case OpenResult::NoHandler:
        reason = 62042;
        break;
    }
    constexpr unsigned kCantOpen = 62030;
    return str(kCantOpen, str(reason).toUtf8().constData());
}

void HyperLink::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_armed = true;
    updateColor();
    event->accept();
}

void HyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    // Dragging off the link before letting go cancels, as with any button.
    if (m_armed && rect().contains(event->position().toPoint()))
        openTarget();
}

void HyperLink::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        event->accept();
        openTarget();
        return;
    }
    QLabel::keyPressEvent(event);
}

void HyperLink::focusInEvent(QFocusEvent* event) {
    m_armed = true;
    updateColor();
    QLabel::focusInEvent(event);
}

void HyperLink::focusOutEvent(QFocusEvent* event) {
    m_armed = false;
    updateColor();
    QLabel::focusOutEvent(event);
}

void HyperLink::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    // The colour alone is a weak focus mark: a dotted frame shows it too
    // (not every style draws focus frames around labels).
    if (hasFocus()) {
        QPainter painter(this);
        painter.setPen(QPen(textColor(), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void HyperLink::changeEvent(QEvent* event) {
    // A font handed down by the dialog (or a language switch) stays underlined.
    if (event->type() == QEvent::FontChange && !font().underline()) {
        QFont underlined = font();
        underlined.setUnderline(true);
        setFont(underlined);
        fitToText();
    }
    QLabel::changeEvent(event);
}

} // namespace plexavo::gui
