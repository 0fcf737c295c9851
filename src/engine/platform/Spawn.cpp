#include "engine/platform/Spawn.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>

extern char** environ;

namespace plexavo::platform {

namespace {

// Every file action and attribute is checked: a spawn set up half-way could
// hand the child the parent's descriptors or signal mask.
class SpawnSetup {
  public:
    SpawnSetup() {
        m_ok = posix_spawn_file_actions_init(&m_actions) == 0;
        m_haveActions = m_ok;
        m_ok = m_ok && posix_spawnattr_init(&m_attr) == 0;
        m_haveAttr = m_ok;
    }
    ~SpawnSetup() {
        if (m_haveActions)
            posix_spawn_file_actions_destroy(&m_actions);
        if (m_haveAttr)
            posix_spawnattr_destroy(&m_attr);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    void check(int result) {
        if (m_ok && result != 0)
            m_error = result;
        m_ok = m_ok && result == 0;
    }
    bool ok() const { return m_ok; }
    // The first failing call's error number (the posix_spawn calls return it).
    int error() const { return m_error != 0 ? m_error : EINVAL; }
    posix_spawn_file_actions_t* actions() { return &m_actions; }
    posix_spawnattr_t* attr() { return &m_attr; }

    // Gives the child `source` (a descriptor, kInherit or kDevNull) as its
    // descriptor `target`.
    void place(int target, int source) {
        if (source == kDevNull)
            check(posix_spawn_file_actions_addopen(&m_actions, target, "/dev/null",
                                                   target == 0 ? O_RDONLY : O_WRONLY, 0));
        else if (source != kInherit)
            check(posix_spawn_file_actions_adddup2(&m_actions, source, target));
    }

  private:
    posix_spawn_file_actions_t m_actions{};
    posix_spawnattr_t m_attr{};
    bool m_haveActions = false;
    bool m_haveAttr = false;
    bool m_ok = false;
    int m_error = 0;
};

void describe(SpawnSetup& setup, const SpawnRequest& request) {
    setup.place(0, request.input);
    setup.place(1, request.output);
    setup.place(2, request.error);
    // Nothing of the parent's beyond the three standard descriptors reaches the child.
    setup.check(posix_spawn_file_actions_addclosefrom_np(setup.actions(), 3));
    if (request.workingDirectory)
        setup.check(posix_spawn_file_actions_addchdir_np(setup.actions(),
                                                         request.workingDirectory->c_str()));

    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    setup.check(posix_spawnattr_setsigdefault(setup.attr(), &all));
    setup.check(posix_spawnattr_setsigmask(setup.attr(), &none));
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (request.ownSession) {
        flags |= POSIX_SPAWN_SETSID;
    } else if (request.ownProcessGroup) {
        setup.check(posix_spawnattr_setpgroup(setup.attr(), 0)); // 0: a group named after the child
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    setup.check(posix_spawnattr_setflags(setup.attr(), flags));
}

// The child's environment: ours, with the request's entries in place of any
// of the same name. The pointers stay valid while environ and extra do.
std::vector<char*> environmentFor(std::vector<std::string>& extra) {
    std::vector<char*> envp;
    for (char** e = environ; e && *e; ++e) {
        const std::string_view entry(*e);
        const auto name = entry.substr(0, entry.find('=') + 1);
        const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& x) {
            return x.compare(0, name.size(), name) == 0;
        });
        if (!replaced)
            envp.push_back(*e);
    }
    for (auto& e : extra)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    return envp;
}

} // namespace

int spawnProcess(const SpawnRequest& request, pid_t& pid) {
    if (request.program.empty() || request.arguments.empty())
        return EINVAL;
    SpawnSetup setup;
    describe(setup, request);
    if (!setup.ok())
        return setup.error();

    // Built before the spawn: nothing may allocate after.
    std::vector<std::string> arguments = request.arguments;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (auto& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> extra = request.environment;
    const std::vector<char*> envp = environmentFor(extra);

    const char* program = request.program.c_str();
    return request.program.find('/') != std::string::npos
               ? posix_spawn(&pid, program, setup.actions(), setup.attr(), argv.data(), envp.data())
               : posix_spawnp(&pid, program, setup.actions(), setup.attr(), argv.data(),
                              envp.data());
}

} // namespace plexavo::platform
