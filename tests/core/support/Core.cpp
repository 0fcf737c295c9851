#include "support/Core.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef PLEXCORE_PATH
#define PLEXCORE_PATH "Plexcore"
#endif

namespace coretest {

namespace {
// The feeder writing to a FIFO whose reader died must see an error, not kill the test.
struct IgnoreSigpipe {
    IgnoreSigpipe() { ::signal(SIGPIPE, SIG_IGN); }
} g_ignoreSigpipe;
} // namespace

std::string corePath() {
    if (const char* env = std::getenv("PLEXCORE"); env && *env)
        return env;
    return PLEXCORE_PATH;
}

std::vector<std::string> coreArgv(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {corePath(), kAccessCode};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

std::vector<std::string> Job::argv() const {
    std::vector<std::string> a = {"-i", input};
    auto add = [&a](const char* opt, const std::optional<std::string>& v) {
        if (v) {
            a.push_back(opt);
            a.push_back(*v);
        }
    };
    add("-title", title);
    add("-vcodec", vcodec);
    add("-pix_fmt", pixFmt);
    add("-s", size);
    add("-r", rate);
    add("-b", bitrate);
    add("-ac", channels);
    add("-ab", audioBitrate);
    add("-ar", sampleRate);
    a.insert(a.end(), extra.begin(), extra.end());
    add("-ss", start);
    add("-t", length);
    if (overwrite)
        a.push_back("-y");
    a.push_back(output);
    return coreArgv(a);
}

void Job::clearDeviceOptions() {
    vcodec = pixFmt = size = rate = bitrate = channels = audioBitrate = sampleRate = std::nullopt;
}

RunResult Job::run(double timeoutSec, const std::string& cwd) const {
    return coretest::run(argv(), timeoutSec, inFolder(cwd));
}

RunResult Job::run(const SpawnOptions& options, double timeoutSec) const {
    return coretest::run(argv(), timeoutSec, options);
}

Trickle::Trickle(const std::string& fifoPath, std::string data, std::vector<Step> steps)
    : m_path(fifoPath), m_data(std::move(data)), m_steps(std::move(steps)) {
    mkfifo(m_path.c_str(), 0644);
    m_thread = std::thread([this] { runSchedule(); });
}

Trickle::~Trickle() {
    stop();
}

void Trickle::stop() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void Trickle::runSchedule() {
    using namespace std::chrono;
    // Opening for writing without a reader fails with ENXIO: poll until the core opens it.
    int fd = -1;
    const auto giveUp = steady_clock::now() + seconds(60);
    while (!m_stop && fd < 0 && steady_clock::now() < giveUp) {
        fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            std::this_thread::sleep_for(milliseconds(10));
    }
    if (fd < 0)
        return;
    size_t pos = 0;
    for (const Step& step : m_steps) {
        const size_t end = std::min(m_data.size(), pos + step.bytes);
        while (!m_stop && pos < end) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            if (p.revents & (POLLERR | POLLHUP))
                goto done; // the core went away
            const ssize_t n = ::write(fd, m_data.data() + pos, end - pos);
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                goto done;
            if (n > 0) {
                pos += static_cast<size_t>(n);
                m_written = pos;
            }
        }
        for (int waited = 0; !m_stop && waited < step.pauseMs; waited += 10)
            std::this_thread::sleep_for(milliseconds(10));
        if (m_stop)
            break;
    }
done:
    ::close(fd);
}

std::vector<Trickle::Step> steadyRate(size_t total, double bytesPerSecond) {
    std::vector<Trickle::Step> steps;
    const size_t chunk = std::max<size_t>(1, static_cast<size_t>(bytesPerSecond / 10));
    for (size_t pos = 0; pos < total; pos += chunk)
        steps.push_back({chunk, 100});
    return steps;
}

} // namespace coretest
