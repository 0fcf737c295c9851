// Every message the program shows goes through here: parented (so it never
// hides behind a modal window), captioned with the product name, and
// answerable by tests without a person at the screen.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <optional>

namespace plexavo::gui {

class MessageBox {
  public:
    static QMessageBox::StandardButton
    show(QWidget* parent, const QString& text, QMessageBox::Icon icon = QMessageBox::Information,
         QMessageBox::StandardButtons buttons = QMessageBox::Ok,
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // Tests: the next box is not shown but answered with `answer` at once.
    // Every text asked is recorded in shownTexts() whether shown or answered.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    // Tests: every box from now on is answered with `answer` (NoButton: show again).
    static void setAutoAnswer(QMessageBox::StandardButton answer);
    static QStringList& shownTexts();

    // The program is closing on a stop signal: no box is shown from now on
    // (each answers NoButton at once), since a question nobody answers
    // would keep the program alive. The texts are still recorded.
    static void setClosing(bool closing);
};

} // namespace plexavo::gui
