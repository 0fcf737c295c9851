// A text label that opens a web address: underlined, blue until it has been
// opened once (then purple), teal while it holds the focus or is pressed; a
// pointing-hand cursor and the address as its tooltip. A click (press and
// release on it) or the space bar while it has the focus opens the address
// with the desktop's browser; a failure beeps and says why in a message box.
// It takes the keyboard focus (Tab), and screen readers see it as a link
// with a "press" action.
//
// Usage (About box):
//   auto* link = new HyperLink(dialogText(100, 1032), dialog);
//   link->setObjectName("ctl1032");
//   link->setTarget(QString::fromStdString(desktop::homePageUrl()));
#pragma once

#include "engine/desktop/OpenAddress.h"

#include <QColor>
#include <QLabel>
#include <QString>

#include <string>

namespace plexavo::gui {

class HyperLink : public QLabel {
    Q_OBJECT

  public:
    // An empty target takes the text as the address; an empty text shows the address.
    explicit HyperLink(const QString& text = QString(), QWidget* parent = nullptr);
    ~HyperLink() override;

    void setTarget(const QString& target);
    QString target() const { return m_target; }

    // Opens the target; derived links may open it differently.
    virtual void openTarget();

    bool isOpened() const { return m_opened; }
    // The colour the text is drawn in now.
    QColor textColor() const;

    static const QColor kLinkColor;   // RGB(0, 0, 255): not yet opened
    static const QColor kOpenedColor; // RGB(128, 0, 128): opened at least once
    static const QColor kArmedColor;  // RGB(0, 128, 128): focused or pressed

    // "Can't open link:\n\n" and the reason a browser did not start, in the
    // current language (empty for a browser that started).
    static QString errorText(desktop::OpenResult result);
    // Opens `address` in the browser as a link does, and says why when it
    // cannot (a beep and errorText in a box owned by `parent`). The Download
    // commands open their pages through it too.
    static bool openInBrowser(QWidget* parent, const std::string& address);

  signals:
    // After the target was opened successfully.
    void opened();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void setUp();
    void fitToText();
    void updateColor();

    bool m_armed = false;
    bool m_opened = false;
    QString m_target;
};

} // namespace plexavo::gui
