// The application object: the start-up sequence, the process-wide values it
// reads, and the main frame it creates.
#pragma once

#include "gui/common/ProgramIcon.h"
#include "gui/shell/LanguagePacksUi.h"

#include <QIcon>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QSessionManager;

namespace plexavo::gui {

class ExitSignals;
class ListKeeper;
class MainWindow;
class PreviewCheck;

// Keeps numbers in the "C" form. QApplication adopts the user's locale, and a
// German one would print the core's options as "-r 29,970", which it refuses.
// Call right after QApplication is constructed.
void initProcessLocale();

class Application : public QObject {
    Q_OBJECT

  public:
    Application();
    ~Application() override;

    static Application* instance();

    // Names the application, reads the stored values, creates and shows the
    // main frame; the given files (bytes, as the command line had them) then
    // go through the detection pass. GStreamer is not started here: once the
    // window is up, a child checks what the preview needs (PreviewCheck).
    bool initInstance(const std::vector<std::string>& files = {});

    // Whether the session lets the program ask its exit question at log-off
    // (the session manager's allowsInteraction); tests replace it, as the
    // offscreen platform never allows it.
    static bool (*mayAskAtLogOff)(QSessionManager& manager);

    MainWindow* mainFrame() const { return m_frame.get(); }
    // What keeps the list on disk; null before initInstance.
    ListKeeper* listKeeper() const { return m_listKeeper.get(); }
    PreviewCheck* previewCheck() const { return m_previewCheck.get(); }
    // The language state and the Language menu's commands.
    LanguageSwitch& languages() { return m_languages; }

    // SIGTERM, SIGINT or SIGHUP arrived: end as Cancel All and Exit would,
    // without a question, and leave with 128 + the signal's number.
    void onExitSignal(int signal);
    // The exit status the program ends with once its work has stopped: a
    // signal's, or 1 when GStreamer cannot start; 0 while neither came.
    int signalExitCode() const { return m_exitCode; }

  private:
    void onCommitData(QSessionManager& manager);
    void whenFirstExposed(std::function<void()> action);
    void reportWhenShown();
    // Message 100, then the program ends, as it did when GStreamer was
    // started before the window.
    void onPreviewChecked();
    // Stops the work under way and leaves with `status` once it has.
    void endWhenIdle(int status);
    // Asks a running batch or detection pass to end; true while one still works.
    bool workStillRunning();
    void exitWhenIdle();

    LanguageSwitch m_languages; // outlives the frame: it owns the pack the frame's texts came from
    std::unique_ptr<MainWindow> m_frame;
    std::unique_ptr<ListKeeper> m_listKeeper;
    std::unique_ptr<ExitSignals> m_exitSignals;
    std::unique_ptr<PreviewCheck> m_previewCheck;
    QTimer m_exitPoll;
    std::thread m_fontWarmUp;
    int m_exitCode = 0;
};

} // namespace plexavo::gui
