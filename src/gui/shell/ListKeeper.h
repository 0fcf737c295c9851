// Keeps the main view's list on disk while the program runs, and offers at
// the start the list of a run that did not end normally (a crash, a kill, a
// logout, a power cut). The list is written on every change of a row or a
// setting; a normal exit marks it finished.
#pragma once

#include "engine/media/ListState.h"

#include <QObject>
#include <QTimer>

namespace plexavo::gui {

class ConversionView;
class MainWindow;

class ListKeeper : public QObject {
    Q_OBJECT

  public:
    explicit ListKeeper(MainWindow& frame);
    ~ListKeeper() override;

    // Once the window is up: when a copy that no longer runs left a list
    // unfinished, asks once whether to restore it. True when it was restored.
    bool offerLeftList();
    // The program ends normally: the list is marked finished.
    void markFinished();
    // Writes the list now rather than once the event loop is idle.
    void saveNow();

    const std::string& path() const { return m_file.path(); }

  private:
    void watch(ConversionView* view);

    MainWindow& m_frame;
    media::ListStateFile m_file;
    QTimer m_saveSoon;
    bool m_finished = false;
};

} // namespace plexavo::gui
