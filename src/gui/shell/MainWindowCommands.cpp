// The command table: one action per command id, the menu bar built from the
// current module, the enabling rules, and the shell-level commands.
#include "gui/shell/MainWindow.h"

#include "engine/desktop/OpenAddress.h"
#include "engine/desktop/ShippedPages.h"
#include "engine/i18n/LanguagePacks.h"
#include "engine/i18n/ResourceText.h"
#include "gui/common/MessageBox.h"
#include "gui/common/UiText.h"
#include "gui/view/ConversionView.h"
#include "gui/widgets/HyperLink.h"
#include "gui/widgets/ToolBar.h"
#include "gui/windows/AboutDialog.h"

#include <QAction>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTreeWidget>

namespace plexavo::gui {

namespace {

// Entries of the module's menu that this program does not offer: the
// document commands and every target format but MPEG4 and H.264.
constexpr int kTrimmedCommands[] = {57600, 57601, 57603, 57604, 32721, 32733, 32722,
                                    32723, 32730, 32725, 32724, 32726, 32727};

constexpr int kLanguagePopup = 2;
constexpr int kHelpPopup = 6;

bool isTrimmed(int id) {
    return std::find(std::begin(kTrimmedCommands), std::end(kTrimmedCommands), id) !=
           std::end(kTrimmedCommands);
}

bool isViewCommand(int id) {
    switch (id) {
    case cmd::kAdd:
    case cmd::kRemove:
    case cmd::kRemoveAll:
    case cmd::kMoveUp:
    case cmd::kMoveDown:
    case cmd::kPreview:
    case cmd::kConvert:
        return true;
    default:
        return false;
    }
}

} // namespace

QAction* MainWindow::ensureAction(int id) {
    if (QAction* existing = m_actions.value(id))
        return existing;
    auto* action = new QAction(this);
    action->setData(id);
    action->setObjectName(QStringLiteral("cmd%1").arg(id));
    // Keys people expect of a desktop program; the menus show them.
    switch (id) {
    case cmd::kAdd:
        action->setShortcut(QKeySequence::Open);
        break;
    case cmd::kRemove:
        action->setShortcut(QKeySequence::Delete);
        // Only while the list has the focus: Delete in an edit edits.
        action->setShortcutContext(Qt::WidgetShortcut);
        break;
    case cmd::kMoveUp:
        action->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Up));
        break;
    case cmd::kMoveDown:
        action->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Down));
        break;
    case cmd::kExit:
        action->setShortcut(QKeySequence::Quit);
        break;
    case cmd::kHelpContents:
        action->setShortcut(QKeySequence::HelpContents);
        break;
    case cmd::kToolTips:
        action->setCheckable(true);
        break;
    default:
        break;
    }
    connect(action, &QAction::triggered, this, [this, id] { onCommand(id); });
    m_actions.insert(id, action);
    return action;
}

void MainWindow::rebuildMenus(bool /*reload*/) {
    // Old popups go; the actions stay, so the toolbar and every shortcut keep
    // working through a language switch.
    // A command's tip in the bar (the pointer on its button) follows into
    // the new language: Qt shows a tip again only when the pointer moves.
    int tipShown = 0;
    if (const QString message = statusBar()->currentMessage(); !message.isEmpty())
        for (auto it = m_actions.cbegin(); it != m_actions.cend() && !tipShown; ++it)
            if (it.value()->statusTip() == message)
                tipShown = it.key();
    menuBar()->clear();
    qDeleteAll(m_popups);
    m_popups.clear();

    const res::Module& module = i18n::currentModule();
    QMenu* popup = nullptr;
    bool lastWasSeparator = true;
    for (std::size_t i = 0; i < module.count; ++i) {
        const res::Entry& entry = module.entries[i];
        if (entry.kind != res::Kind::Menu || entry.owner != kMenuId)
            continue;
        const QString text = QString::fromUtf8(entry.text);
        if (entry.level == 0) {
            popup = menuBar()->addMenu(text);
            popup->setObjectName(QStringLiteral("menu%1").arg(m_popups.size()));
            m_popups.append(popup);
            lastWasSeparator = true;
            continue;
        }
        if (!popup)
            continue;
        if (entry.id == 0) {
            if (!lastWasSeparator)
                popup->addSeparator();
            lastWasSeparator = true;
            continue;
        }
        if (isTrimmed(entry.id))
            continue;
        if (m_popups.size() - 1 == kLanguagePopup && fillLanguageMenu)
            continue; // the language packs list their own entries
        QAction* action = ensureAction(entry.id);
        action->setText(text);
        const QString status = commandStatus(entry.id);
        action->setStatusTip(status);
        const QString tip = commandTip(entry.id);
        action->setToolTip(tip.isEmpty() ? QString(text).remove(QLatin1Char('&')) : tip);
        popup->addAction(action);
        lastWasSeparator = false;
    }

    refillLanguageMenu();
    if (m_popups.size() > kHelpPopup)
        if (QAction* about = action(cmd::kAbout))
            about->setText(str(61922, productName().toUtf8().constData()));
    retextStatusBar();
    updateCommandUi();
    if (QAction* shown = tipShown ? action(tipShown) : nullptr)
        statusBar()->showMessage(shown->statusTip());
}

void MainWindow::refillLanguageMenu() {
    if (m_popups.size() > kLanguagePopup && fillLanguageMenu)
        fillLanguageMenu(m_popups[kLanguagePopup]);
}

void MainWindow::updateCommandUi() {
    if (!m_view)
        return;
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it)
        if (isViewCommand(it.key()))
            it.value()->setEnabled(m_view->isCommandEnabled(it.key()));
    // The list takes the Delete key for Remove.
    if (QAction* remove = action(cmd::kRemove);
        remove && !m_view->sourceList()->actions().contains(remove))
        m_view->sourceList()->addAction(remove);
}

void MainWindow::onCommand(int id) {
    if (isViewCommand(id) && m_view && !m_view->isCommandEnabled(id))
        return; // a shortcut may arrive while the rule says no
    switch (id) {
    case cmd::kAdd:
        m_view->onAdd();
        break;
    case cmd::kRemove:
        m_view->onRemove();
        break;
    case cmd::kRemoveAll:
        m_view->onRemoveAll();
        break;
    case cmd::kMoveUp:
        m_view->onMoveUp();
        break;
    case cmd::kMoveDown:
        m_view->onMoveDown();
        break;
    case cmd::kPreview:
        m_view->onPreview();
        break;
    case cmd::kConvert:
        m_view->onConvert();
        break;
    case cmd::kToolTips:
        m_view->onToolTips();
        break;
    case cmd::kDownloadRuntime:
    case cmd::kDownloadPlugins:
    case cmd::kDownloadOgg:
        m_view->onDownload(id);
        break;
    case cmd::kDownloadReal:
    case cmd::kDownloadQuickTime:
        HyperLink::openInBrowser(this, desktop::downloadPageUrl(desktop::downloadAnchor(id)));
        break;
    case cmd::kHelpContents:
        onHelpContents();
        break;
    case cmd::kAbout:
        onAppAbout();
        break;
    case cmd::kExit:
        close();
        break;
    default:
        if (id >= i18n::kFirstLanguageCommand && id <= i18n::kLastLanguageCommand &&
            onLanguageCommand)
            onLanguageCommand(id);
        // The Source and Target Format entries only show their prompts.
        break;
    }
}

void MainWindow::onHelpContents() {
    const std::string path = helpDocumentPath.empty() ? desktop::helpFilePath() : helpDocumentPath;
    if (!QFileInfo::exists(QString::fromStdString(path))) {
        // xdg-open would fail on it without a word to the user.
        MessageBox::show(this, str(61927, path.c_str()), QMessageBox::Warning);
        return;
    }
    const desktop::OpenResult result = desktop::openWithDesktop(path);
    if (result == desktop::OpenResult::FileNotFound || result == desktop::OpenResult::PathNotFound)
        MessageBox::show(this, str(61923), QMessageBox::NoIcon);
}

void MainWindow::onAppAbout() {
    AboutDialog dialog(this);
    dialog.exec();
}

} // namespace plexavo::gui
