#include "gui/windows/WorkerDialog.h"

#include <QCloseEvent>
#include <QKeyEvent>

namespace plexavo::gui {

void WorkerDialog::reject() {
    if (m_mayClose)
        QDialog::reject();
}

void WorkerDialog::accept() {
    if (m_mayClose)
        QDialog::accept();
}

void WorkerDialog::finish() {
    m_mayClose = true;
    QDialog::accept();
}

void WorkerDialog::closeEvent(QCloseEvent* event) {
    if (m_mayClose)
        event->accept();
    else
        event->ignore();
}

void WorkerDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept(); // neither closes nor cancels
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace plexavo::gui
