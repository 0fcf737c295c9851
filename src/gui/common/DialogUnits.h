// Dialog units of the window templates the windows keep the proportions of,
// in pixels for a font: a quarter of the font's average character width
// across, an eighth of its height down.
#pragma once

#include <QFont>

namespace plexavo::gui {

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const;
    int y(int units) const;

  private:
    double m_charWidth;
    double m_charHeight;
};

} // namespace plexavo::gui
