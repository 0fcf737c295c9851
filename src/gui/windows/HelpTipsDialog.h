// The help-tips window: the four steps of a conversion, and a "Hide the
// tooltips" box that closes the window when it is clicked.
#pragma once

#include <QDialog>

class QCheckBox;

namespace plexavo::gui {

class HelpTipsDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HelpTipsDialog)

  public:
    static constexpr int kDialogId = 138;
    static constexpr int kHideBox = 1073;

    explicit HelpTipsDialog(QWidget* parent = nullptr);

    QCheckBox* hideBox() const { return m_hide; }

  private:
    QCheckBox* m_hide = nullptr;
};

} // namespace plexavo::gui
