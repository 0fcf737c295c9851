#include "gui/common/UiThread.h"

#include <QMetaObject>
#include <QThread>

namespace plexavo::gui {

void runOnUiThread(QObject* receiver, const std::function<void()>& fn) {
    if (!receiver || QThread::currentThread() == receiver->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(receiver, fn, Qt::BlockingQueuedConnection);
}

} // namespace plexavo::gui
