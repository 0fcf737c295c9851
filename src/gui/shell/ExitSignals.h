// SIGTERM, SIGINT and SIGHUP as an event on the window's thread. A handler
// may do almost nothing safely, so it only writes the signal's number into a
// pipe; a socket notifier reads it there, where the program can stop its
// work in order, as Cancel All does, rather than die with a core still
// writing a file.
#pragma once

#include <QObject>

#include <csignal>
#include <iterator>

class QSocketNotifier;

namespace plexavo::gui {

class ExitSignals : public QObject {
    Q_OBJECT

  public:
    // The signals handled, in the order of their saved handlers.
    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

    // Installs the handlers; one object at a time (the handler writes to
    // the newest). A failure leaves the signals as they were (installed() false).
    explicit ExitSignals(QObject* parent = nullptr);
    // Puts the previous handlers back and closes the pipe.
    ~ExitSignals() override;
    Q_DISABLE_COPY_MOVE(ExitSignals)

    bool installed() const { return m_installed; }

  signals:
    // On the thread that made this object, once per signal that arrived.
    void received(int signal);

  private:
    void drain();

    int m_read = -1;
    int m_write = -1;
    bool m_installed = false;
    struct sigaction m_previous[std::size(kSignals)]{};
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace plexavo::gui
