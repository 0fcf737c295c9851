// The floor of the start and memory figures: a Qt 6 window with nothing in
// it (QApplication + QMainWindow of the main window's size), built like the
// program. With PLEXAVO_REPORT_SHOWN set it reports its first expose as the
// program does: "shown <realtime ns> <monotonic ns>", then leaves unless the
// value is "keep". With --label the window shows one word, to tell apart
// what any text costs (the font database, the first font) from the rest.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <ctime>

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

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setFixedSize(735, 564);
    if (argc > 1 && QByteArray(argv[1]) == "--label")
        window.setCentralWidget(new QLabel(QStringLiteral("Ready")));
    window.winId(); // the native window, to watch its expose
    const QByteArray report = qgetenv("PLEXAVO_REPORT_SHOWN");
    if (!report.isEmpty())
        window.windowHandle()->installEventFilter(new FirstExpose(report != "keep"));
    window.show();
    return app.exec();
}
