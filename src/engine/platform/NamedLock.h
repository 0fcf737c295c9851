// A lock shared by every thread of this process and by every process of the
// user that opens the same name: an in-process mutex plus flock on a file.
#pragma once

#include <mutex>
#include <string>
#include <sys/types.h>

namespace plexavo::platform {

class NamedLock {
  public:
    explicit NamedLock(std::string name);
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    void lock();
    void unlock();

  private:
    std::string m_path;
    std::mutex m_mutex;
    int m_fd = -1;
    pid_t m_owner = 0;
};

} // namespace plexavo::platform
