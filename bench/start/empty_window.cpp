// The floor of the start and memory figures: a Qt 6 window with nothing in
// it (QApplication + QMainWindow of the main window's size), built like the
// program. With PLEXAVO_REPORT_SHOWN set it reports its first expose as the
// program does: "shown <realtime ns> <monotonic ns>", then leaves unless the
// value is "keep". With --label the window shows one word, to tell apart
// what any text costs (the font database, the first font) from the rest.
// With --widgets it shows the kinds and numbers of Qt widgets the program's
// window shows, laid out alike, with none of the program behind them: what
// Qt itself costs for that window.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdio>
#include <ctime>
#include <utility>

namespace {

long long clockNs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

class FirstExpose : public QObject {
  public:
    explicit FirstExpose(bool leave) : m_leave(leave) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && !m_done &&
            static_cast<QWindow*>(watched)->isExposed()) {
            m_done = true;
            std::printf("shown %lld %lld\n", clockNs(CLOCK_REALTIME), clockNs(CLOCK_MONOTONIC));
            std::fflush(stdout);
            if (m_leave)
                QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
        return false;
    }

  private:
    bool m_leave;
    bool m_done = false;
};

QComboBox* list(int entries) {
    auto* combo = new QComboBox;
    for (int i = 0; i < entries; ++i)
        combo->addItem(i == 0 ? QStringLiteral("Keep Original")
                              : QStringLiteral("%1 kbps").arg(i * 32));
    combo->setMinimumContentsLength(8);
    combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return combo;
}

QGroupBox* group(const QString& title, QLayout* rows) {
    auto* box = new QGroupBox(title);
    box->setLayout(rows);
    return box;
}

// The program's window, widget for widget, with made-up texts.
void buildWidgets(QMainWindow& window) {
    // The program looks in the XDG icon folders, in Adwaita where the
    // desktop names no theme.
    QStringList paths = QIcon::themeSearchPaths();
    paths << QDir::homePath() + QStringLiteral("/.icons") << QStringLiteral("/usr/share/icons");
    QIcon::setThemeSearchPaths(paths);
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));

    const char* menus[] = {"&File",          "&Action",   "&Language", "&Source Format",
                           "&Target Format", "&Download", "&Help"};
    for (const char* title : menus) {
        QMenu* menu = window.menuBar()->addMenu(QString::fromLatin1(title));
        for (int i = 0; i < 5; ++i)
            menu->addAction(QStringLiteral("Command %1").arg(i + 1));
    }

    auto* tools = new QToolBar;
    tools->setMovable(false);
    tools->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tools->setIconSize(QSize(48, 48));
    const std::pair<const char*, const char*> buttons[] = {{"list-add", "Add"},
                                                           {"list-remove", "Remove"},
                                                           {"edit-clear-all", "Remove All"},
                                                           {nullptr, nullptr},
                                                           {"go-up", "Move Up"},
                                                           {"go-down", "Move Down"},
                                                           {nullptr, nullptr},
                                                           {"media-playback-start", "Preview"},
                                                           {"media-record", "Convert"},
                                                           {nullptr, nullptr},
                                                           {"application-exit", "Exit"}};
    for (const auto& [icon, text] : buttons) {
        if (!icon) {
            tools->addSeparator();
            continue;
        }
        QAction* action = tools->addAction(QIcon::fromTheme(QString::fromLatin1(icon)),
                                           QString::fromLatin1(text));
        // As with an empty list: only Add and Exit can be used.
        action->setEnabled(text[0] == 'A' || text[0] == 'E');
    }
    window.addToolBar(tools);

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    auto* top = new QHBoxLayout;
    auto* sources = new QTreeWidget;
    sources->setHeaderLabels({QStringLiteral("Source"), QStringLiteral("Target"),
                              QStringLiteral("Convert Duration"), QStringLiteral("Status")});
    sources->setRootIsDecorated(false);
    top->addWidget(sources, 2);
    auto* info = new QPlainTextEdit;
    info->setReadOnly(true);
    info->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    top->addWidget(info, 1);
    layout->addLayout(top, 1);

    auto* type = new QHBoxLayout;
    type->addWidget(new QLabel(QStringLiteral("Type:")));
    auto* first = new QRadioButton(QStringLiteral("MPEG-4"));
    first->setChecked(true);
    type->addWidget(first);
    type->addWidget(new QRadioButton(QStringLiteral("H.264")));
    type->addStretch();
    layout->addWidget(group(QStringLiteral("Conversion Settings"), type));

    auto* video = new QGridLayout;
    video->addWidget(new QLabel(QStringLiteral("Size:")), 0, 0);
    video->addWidget(list(15), 0, 1);
    video->addWidget(new QLabel(QStringLiteral("X=")), 0, 2);
    video->addWidget(new QLineEdit(QStringLiteral("0")), 0, 3);
    video->addWidget(new QLabel(QStringLiteral("Y=")), 0, 4);
    video->addWidget(new QLineEdit(QStringLiteral("0")), 0, 5);
    video->addWidget(new QLabel(QStringLiteral("Framerate:")), 0, 6);
    video->addWidget(list(8), 0, 7);
    video->addWidget(new QLabel(QStringLiteral("Bitrate:")), 1, 0);
    video->addWidget(list(12), 1, 1);
    video->addWidget(new QCheckBox(QStringLiteral("Variable Bit Rate")), 1, 2, 1, 3);
    video->addWidget(new QLineEdit, 1, 5);
    video->addWidget(new QLineEdit, 1, 7);
    layout->addWidget(group(QStringLiteral("Video Settings"), video));

    auto* audio = new QHBoxLayout;
    for (const char* caption : {"Channels:", "Bitrate:", "Samplerate:"}) {
        audio->addWidget(new QLabel(QString::fromLatin1(caption)));
        audio->addWidget(list(6));
    }
    QComboBox* volume = list(4); // there, hidden, as in the program
    volume->hide();
    audio->addWidget(volume);
    layout->addWidget(group(QStringLiteral("Audio Settings"), audio));

    auto* path = new QHBoxLayout;
    path->addWidget(new QLabel(QStringLiteral("Output Path:")));
    path->addWidget(new QLineEdit(QDir::homePath() + QStringLiteral("/ConvertedMedia/")), 1);
    path->addWidget(new QPushButton(QStringLiteral("Browse...")));
    path->addWidget(new QPushButton(QStringLiteral("Go")));
    layout->addWidget(group(QStringLiteral("Path Information"), path));
    auto* tips = new QCheckBox(QStringLiteral("Hide the tooltips"));
    tips->setChecked(true);
    layout->addWidget(tips);
    window.setCentralWidget(central);

    window.statusBar()->showMessage(QStringLiteral("Ready"));
    for (int i = 0; i < 3; ++i)
        window.statusBar()->addPermanentWidget(new QLabel(QStringLiteral("   ")));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setFixedSize(735, 564);
    if (argc > 1 && QByteArray(argv[1]) == "--label")
        window.setCentralWidget(new QLabel(QStringLiteral("Ready")));
    if (argc > 1 && QByteArray(argv[1]) == "--widgets")
        buildWidgets(window);
    window.winId(); // the native window, to watch its expose
    const QByteArray report = qgetenv("PLEXAVO_REPORT_SHOWN");
    if (!report.isEmpty())
        window.windowHandle()->installEventFilter(new FirstExpose(report != "keep"));
    window.show();
    return app.exec();
}
