#include "gui/common/MessageBox.h"

#include "gui/common/UiText.h"

#include <QMutex>
#include <QMutexLocker>

namespace plexavo::gui {

namespace {
QMutex g_mutex;
std::optional<QMessageBox::StandardButton> g_next;
QMessageBox::StandardButton g_auto = QMessageBox::NoButton;
bool g_closing = false;
} // namespace

QStringList& MessageBox::shownTexts() {
    static QStringList texts;
    return texts;
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer) {
    QMutexLocker lock(&g_mutex);
    g_next = answer;
}

void MessageBox::setAutoAnswer(QMessageBox::StandardButton answer) {
    QMutexLocker lock(&g_mutex);
    g_auto = answer;
}

void MessageBox::setClosing(bool closing) {
    QMutexLocker lock(&g_mutex);
    g_closing = closing;
}

QMessageBox::StandardButton MessageBox::show(QWidget* parent, const QString& text,
                                             QMessageBox::Icon icon,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::StandardButton defaultButton) {
    {
        QMutexLocker lock(&g_mutex);
        shownTexts().append(text);
        if (g_closing)
            return QMessageBox::NoButton;
        if (g_next) {
            const auto answer = *g_next;
            g_next.reset();
            return answer;
        }
        if (g_auto != QMessageBox::NoButton)
            return g_auto;
    }
    QMessageBox box(icon, productName(), text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace plexavo::gui
