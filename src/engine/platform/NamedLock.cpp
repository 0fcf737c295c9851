#include "engine/platform/NamedLock.h"

#include "engine/platform/Platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace plexavo::platform {

NamedLock::NamedLock(std::string name) : m_path(runtimeFolder() + "/" + name + ".lock") {}

NamedLock::~NamedLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void NamedLock::lock() {
    m_mutex.lock();
    // Opened lazily, as the log lock is built during static initialisation;
    // and anew in a forked child, since flock belongs to the open file and a
    // shared one would not exclude the parent.
    if (m_fd >= 0 && m_owner != getpid()) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_fd < 0) {
        m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        m_owner = getpid();
    }
    if (m_fd >= 0) {
        while (flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
}

void NamedLock::unlock() {
    if (m_fd >= 0)
        flock(m_fd, LOCK_UN);
    m_mutex.unlock();
}

} // namespace plexavo::platform
