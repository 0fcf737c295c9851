// Runs a piece of work on the user-interface thread and waits for it. The
// workers (detection pass, batch) reach the view only this way.
#pragma once

#include <QObject>

#include <functional>

namespace plexavo::gui {

// Runs fn in receiver's thread and returns when it has run. Called from that
// thread itself, it runs fn at once: a blocking queued call there would
// wait on itself forever.
void runOnUiThread(QObject* receiver, const std::function<void()>& fn);

} // namespace plexavo::gui
