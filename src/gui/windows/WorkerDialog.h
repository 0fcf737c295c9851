// A window that its worker's task owns: it ends only when the task is done
// (finish()), never through Escape, the close button or a stray accept or
// reject while the work runs.
#pragma once

#include <QDialog>

namespace plexavo::gui {

class WorkerDialog : public QDialog {
  public:
    using QDialog::QDialog;

    void reject() override;
    void accept() override;

  protected:
    // From now on the window may close; it closes as accepted.
    void finish();
    bool mayClose() const { return m_mayClose; }

    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool m_mayClose = false;
};

} // namespace plexavo::gui
