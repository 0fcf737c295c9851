// The program's only top-level window: a fixed-size frame with the menu bar,
// the large-button toolbar, the main view and the status bar. Every command
// is one QAction, made once and kept by its command id.
#pragma once

#include <QHash>
#include <QList>
#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <string>

class QAction;
class QLabel;
class QMenu;

namespace plexavo::gui {

class ToolBar;
class ConversionView;

// Command ids the frame itself answers.
namespace cmd {
inline constexpr int kExit = 57665;
inline constexpr int kAbout = 57664;
inline constexpr int kHelpContents = 32791;
inline constexpr int kDownloadReal = 32777;
inline constexpr int kDownloadQuickTime = 32779;
} // namespace cmd

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    static constexpr int kWidth = 735;
    static constexpr int kHeight = 564;
    static constexpr int kMenuId = 128;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    ConversionView* view() const { return m_view; }
    ToolBar* toolBar() const { return m_toolBar; }
    QAction* action(int id) const { return m_actions.value(id); }
    const QHash<int, QAction*>& commandActions() const { return m_actions; }
    QList<QMenu*> popups() const { return m_popups; }

    // Builds the menu bar from the current module's menu (trimmed to the
    // commands this program offers), re-texting the kept actions. The one
    // path for the first build and for a language switch.
    void rebuildMenus(bool reload);
    // The language menu alone, from fillLanguageMenu.
    void refillLanguageMenu();
    void updateTitle();
    // The toolbar's button texts from the current module.
    void setToolbarTexts(bool resize);
    // A new view from the current module with the old one's state.
    ConversionView* recreateView();
    // The same once no modal window is up: a modal window (the preview, the
    // detection pass, a question) runs inside a command of the view it came
    // from, which must outlive it and whose results the new view takes over.
    void recreateViewWhenFree();

    // Runs a command as its menu entry would.
    void onCommand(int id);
    // Enables each command by its rule.
    void updateCommandUi();

    void onHelpContents();
    // The help document; empty: the one shipped with the program.
    std::string helpDocumentPath;
    void onAppAbout();

    // Asks the exit question; true when the user agreed to close.
    bool confirmExit();

    // The language packs fill the Language menu and answer its commands;
    // without them it holds the module's own entries.
    std::function<void(QMenu* menu)> fillLanguageMenu;
    std::function<void(int id)> onLanguageCommand;
    // Called for every view the frame makes after the first (a language
    // switch), so the shell can hand it what it gave the first one.
    std::function<void(ConversionView* view)> configureView;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QAction* ensureAction(int id);
    void createStatusBar();
    void retextStatusBar();
    void updateLockIndicators();
    void attachView(ConversionView* view);
    void centreOnScreen();

    ToolBar* m_toolBar = nullptr;
    ConversionView* m_view = nullptr;
    QLabel* m_ready = nullptr;
    QLabel* m_indicators[3] = {};
    QHash<int, QAction*> m_actions;
    QList<QMenu*> m_popups;
    bool m_exitConfirmed = false;
    QTimer m_pendingView; // recreateViewWhenFree() waiting for the modal windows to close
};

} // namespace plexavo::gui
