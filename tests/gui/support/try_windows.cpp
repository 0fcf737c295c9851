// A small program to try the detection and conversion windows before the
// main window exists: the stand-in source list with "Add files..." and
// "Convert" buttons. Options let a script drive it:
//   --out DIR        output folder (default: a folder under /tmp)
//   --add FILE...    run the detection pass on these files at start
//   --convert        then convert the list
//   --grab DIR       save each window into DIR as a PNG once it shows progress
//   --quit           quit when the sequence is done (messages are answered OK)
//   --language ID    the windows in that language pack (1031 German, 2052 Chinese ...)
#include "engine/i18n/LanguagePacks.h"
#include "gui/common/MessageBox.h"
#include "gui/windows/BatchWindow.h"
#include "gui/windows/DetectionWindow.h"
#include "support/TestSourceList.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <clocale>

using namespace plexavo;
using namespace plexavo::testing;

using plexavo::gui::BatchWindow;
using plexavo::gui::DetectionWindow;
using plexavo::gui::MessageBox;

namespace {

QString g_grabDir;

// Saves the window a little after it has shown, when its texts have arrived.
void grabLater(QWidget* window, const QString& name, int delayMs) {
    if (g_grabDir.isEmpty())
        return;
    QTimer::singleShot(delayMs, window, [window, name] {
        window->grab().save(QDir(g_grabDir).filePath(name + QStringLiteral(".png")));
    });
}

void detect(TestSourceList& list, const QStringList& files) {
    std::vector<std::string> paths;
    for (const QString& f : files)
        paths.push_back(QFileInfo(f).absoluteFilePath().toStdString());
    if (paths.empty())
        return;
    DetectionWindow dlg(list, paths, &list);
    grabLater(&dlg, QStringLiteral("detect"), 150);
    dlg.exec();
}

void convertAll(TestSourceList& list) {
    list.markAllWaiting();
    BatchWindow dlg(list, &list);
    grabLater(&dlg, QStringLiteral("convert"), 2500);
    dlg.exec();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");

    // Outlives every window: the texts on screen point into its pack.
    i18n::LanguagePacks packs;
    QStringList add;
    bool convertAtStart = false;
    bool quit = false;
    QString out = QDir::temp().filePath(QStringLiteral("plexavo-try"));
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--out") && i + 1 < args.size())
            out = args[++i];
        else if (args[i] == QLatin1String("--grab") && i + 1 < args.size())
            g_grabDir = args[++i];
        else if (args[i] == QLatin1String("--convert"))
            convertAtStart = true;
        else if (args[i] == QLatin1String("--language") && i + 1 < args.size())
            packs.selectLanguage(args[++i].toUInt());
        else if (args[i] == QLatin1String("--quit"))
            quit = true, MessageBox::setAutoAnswer(QMessageBox::Ok);
        else if (args[i] != QLatin1String("--add"))
            add << args[i];
    }

    TestSourceList list;
    list.editSettings().outputPath = out.toStdString();
    auto* addButton = new QPushButton(QStringLiteral("&Add files..."), &list);
    auto* convertButton = new QPushButton(QStringLiteral("&Convert"), &list);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(addButton);
    row->addWidget(convertButton);
    static_cast<QVBoxLayout*>(list.layout())->addLayout(row);
    QObject::connect(addButton, &QPushButton::clicked, &list, [&list] {
        detect(list, QFileDialog::getOpenFileNames(&list, QStringLiteral("Add files")));
    });
    QObject::connect(convertButton, &QPushButton::clicked, &list, [&list] { convertAll(list); });
    list.show();

    QTimer::singleShot(0, &list, [&] {
        detect(list, add);
        if (convertAtStart)
            convertAll(list);
        if (!g_grabDir.isEmpty())
            list.grab().save(QDir(g_grabDir).filePath(QStringLiteral("list.png")));
        if (quit)
            app.quit();
    });
    return app.exec();
}
