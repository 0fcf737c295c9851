// The application object: the start-up sequence, the process-wide values it
// reads, and the main frame it creates.
#pragma once

#include "gui/common/ProgramIcon.h"
#include "gui/shell/LanguagePacksUi.h"

#include <QIcon>
#include <QObject>
#include <QStringList>

#include <memory>

class QSessionManager;

namespace plexavo {

class CMainFrame;

// Keeps numbers in the "C" form. QApplication adopts the user's locale, and a
// German one would print the core's options as "-r 29,970", which it refuses.
// Call right after QApplication is constructed.
void initProcessLocale();

class CVantrelApp : public QObject {
    Q_OBJECT

  public:
    CVantrelApp();
    ~CVantrelApp() override;

    static CVantrelApp* instance();

    // Names the application, reads the stored values, creates and shows the
    // main frame; the given files then go through the detection pass.
    bool InitInstance(const QStringList& files = {});

    // Starts the media framework (step before the language and the window);
    // tests replace it to see the failure path. Returns false on failure.
    static bool (*initMediaFramework)();
    // Whether the session lets the program ask its exit question at log-off
    // (the session manager's allowsInteraction); tests replace it, as the
    // offscreen platform never allows it.
    static bool (*mayAskAtLogOff)(QSessionManager& manager);

    CMainFrame* mainFrame() const { return m_frame.get(); }
    // The language state and the Language menu's commands.
    CLanguageSwitch& languages() { return m_languages; }

  private:
    void onCommitData(QSessionManager& manager);
    void reportWhenShown();

    CLanguageSwitch m_languages; // outlives the frame: it owns the pack the frame's texts came from
    std::unique_ptr<CMainFrame> m_frame;
};

} // namespace plexavo
