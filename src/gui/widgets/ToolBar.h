// The main window's toolbar of large buttons: 48 x 48 images from the
// desktop's icon theme (text under each), drawn by the program only where no
// theme has the image.
#pragma once

#include <QIcon>
#include <QStringList>
#include <QToolBar>

class QFontMetrics;
class QToolButton;

namespace plexavo::gui {

class ToolBar : public QToolBar {
    Q_OBJECT

  public:
    static constexpr int kImageSize = 48;
    static constexpr int kButtonSize = 68;

    explicit ToolBar(QWidget* parent = nullptr);

    // Gives the buttons (the non-separator actions, in order) their images
    // by freedesktop icon name. False when a name had to be drawn here
    // because no theme has it; every button has an image either way.
    bool setImageLists(int imageSize, const QStringList& iconNames);

    // Sets the button texts, slot by slot (separators take their empty
    // slot), and gives every button one size: the widest label's, at least
    // kButtonSize square. With resize the images get their size again.
    void setButtonTexts(const QStringList& texts, bool resize);

    // Makes the desktop's icon themes reachable, with Adwaita as the fallback.
    static void prepareIconThemes();

    // An icon of the theme, or of the fallback theme, or one drawn here.
    static QIcon themeIcon(const QString& name, bool* fromTheme = nullptr);

  private:
    void sizeButtonsAlike(const QList<QToolButton*>& tools);
    // A label broken at the blank that makes it narrowest in two lines
    // (unchanged without a blank).
    static QString inTwoLines(const QString& label, const QFontMetrics& metrics);
};

} // namespace plexavo::gui
