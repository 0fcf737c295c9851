// The About box: the program's icon, name and version, a notice line and a
// link to the maker's home page.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace plexavo::gui {

class HyperLink;

class AboutDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AboutDialog)

  public:
    static constexpr int kDialogId = 100;
    static constexpr int kTitle = 1046;
    static constexpr int kVersion = 1103;
    static constexpr int kLink = 1032;

    explicit AboutDialog(QWidget* parent = nullptr);

    QString versionText() const;
    QString linkTarget() const;

  private:
    QLabel* m_title = nullptr;
    QLabel* m_version = nullptr;
    HyperLink* m_link = nullptr;
};

} // namespace plexavo::gui
