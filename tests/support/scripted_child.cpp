// A child program whose behaviour the tests script: it writes given text with
// given pauses and exits with a given status. The script comes from the
// environment variable SCRIPTED_CHILD when set (so the program can stand in
// for the encoder core, whose arguments are fixed), else from argv[1..].
//
// Steps, separated by '|' in the environment form:
//   w:TEXT      write TEXT (\n, \r, \\ and \| are unescaped) in one write()
//   e:TEXT      the same on standard error
//   n:COUNT:C   write COUNT copies of the character C in one write()
//   s:MS        sleep MS milliseconds
//   x:CODE      exit with CODE
//   a           write argv (from argv[0]) to $SCRIPTED_ARGV_FILE, each ended by NUL
//   f           write the open descriptor numbers to $SCRIPTED_FD_FILE, one a line
//   t           on SIGTERM write "stopping\n" and exit 255 (as the core does)
//   i           ignore SIGTERM
//   q           note SIGTERM and go on (for W and the steps after it)
//   W           wait until SIGTERM has arrived (after q)
//   A           on the abort signal (SIGUSR1) exit 3 at once (as the core does)
//   j           ignore the abort signal
//   p:MS:EVERY:TEXT  write TEXT every EVERY ms for MS ms
//   g:MS:EVERY  append a byte to the output file (the last argument) every EVERY ms for MS ms
//   o:TEXT      write TEXT into the output file (the last argument)
//   b:MS        burn MS ms of processor time without a word
//   v:NAME      append "NAME=value\n" of the environment ("NAME unset\n" when unset)
//               to $SCRIPTED_REPORT_FILE
//   P           append "own group\n" (or "shared group\n") to $SCRIPTED_REPORT_FILE
//   r           write where standard input comes from (the /proc link) and what one read got
//   @           go on with the steps written in the input file (the argument after -i),
//               in the environment form: several conversions, each with a script of its own
//   O           as the core does once its file is finished: create the output file (the
//               last argument) if missing and write "Output: PATH\n"
//   d:DIR       create an empty file named by this process's pid in DIR
//   ?:ARG       the steps up to the next "/" run only when ARG is one of the arguments
//               (one script for the core's question "-can-resume" and for its conversion)
#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void report(const std::string& text) {
    if (const char* path = std::getenv("SCRIPTED_REPORT_FILE"))
        if (std::FILE* f = std::fopen(path, "a")) {
            std::fputs(text.c_str(), f);
            std::fclose(f);
        }
}

extern "C" void onAbort(int) {
    std::_Exit(3);
}

void writeAll(const std::string& text, int fd = 1) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            std::_Exit(3);
        done += static_cast<std::size_t>(n);
    }
}

std::string unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char c = s[++i];
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string> splitScript(const std::string& script) {
    std::vector<std::string> steps;
    std::string current;
    for (std::size_t i = 0; i < script.size(); ++i) {
        if (script[i] == '\\' && i + 1 < script.size()) {
            current += script[i];
            current += script[++i];
        } else if (script[i] == '|') {
            steps.push_back(current);
            current.clear();
        } else {
            current += script[i];
        }
    }
    steps.push_back(current);
    return steps;
}

volatile std::sig_atomic_t g_termSeen = 0;

void noteTerm(int) {
    g_termSeen = 1;
}

long elapsedMs(const timespec& since) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - since.tv_sec) * 1000 + (now.tv_nsec - since.tv_nsec) / 1000000;
}

void sleepMs(long ms) {
    timespec t{ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&t, &t) != 0) {
    }
}

// "MS:EVERY:rest" -> MS, EVERY and the rest.
void splitTimes(const std::string& args, long& total, long& every, std::string& rest) {
    const auto first = args.find(':');
    const auto second = args.find(':', first + 1);
    total = std::atol(args.substr(0, first).c_str());
    every = std::max(1L, std::atol(args.substr(first + 1, second - first - 1).c_str()));
    rest = second == std::string::npos ? std::string() : args.substr(second + 1);
}

void onTerm(int) {
    static const char msg[] = "stopping\n";
    (void)!write(1, msg, sizeof msg - 1);
    _exit(255);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> steps;
    if (const char* script = std::getenv("SCRIPTED_CHILD"))
        steps = splitScript(script);
    else
        steps.assign(argv + 1, argv + argc);

    for (std::size_t at = 0; at < steps.size(); ++at) {
        const std::string step = steps[at];
        if (step.rfind("?:", 0) == 0) {
            bool given = false;
            for (int i = 1; i < argc; ++i)
                given = given || step.substr(2) == argv[i];
            if (!given)
                while (at + 1 < steps.size() && steps[at + 1] != "/")
                    ++at;
        } else if (step == "@") {
            std::string input;
            for (int i = 1; i + 1 < argc; ++i)
                if (std::strcmp(argv[i], "-i") == 0)
                    input = argv[i + 1];
            std::string script;
            if (std::FILE* f = std::fopen(input.c_str(), "rb")) {
                char buffer[4096];
                std::size_t n;
                while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
                    script.append(buffer, n);
                std::fclose(f);
            }
            while (!script.empty() && (script.back() == '\n' || script.back() == '\r'))
                script.pop_back();
            const auto more = splitScript(script);
            steps.insert(steps.begin() + static_cast<std::ptrdiff_t>(at) + 1, more.begin(),
                         more.end());
        } else if (step == "O" && argc > 1) {
            const int fd = open(argv[argc - 1], O_WRONLY | O_CREAT, 0644);
            if (fd >= 0)
                close(fd);
            writeAll(std::string("Output: ") + argv[argc - 1] + "\n");
        } else if (step.rfind("d:", 0) == 0) {
            const std::string name = step.substr(2) + "/" + std::to_string(getpid());
            const int fd = open(name.c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd >= 0)
                close(fd);
        } else if (step.rfind("w:", 0) == 0) {
            writeAll(unescape(step.substr(2)));
        } else if (step.rfind("e:", 0) == 0) {
            writeAll(unescape(step.substr(2)), 2);
        } else if (step.rfind("n:", 0) == 0) {
            const auto colon = step.find(':', 2);
            const long count = std::atol(step.substr(2, colon - 2).c_str());
            writeAll(std::string(static_cast<std::size_t>(count), step[colon + 1]));
        } else if (step.rfind("s:", 0) == 0) {
            sleepMs(std::atol(step.c_str() + 2));
        } else if (step.rfind("x:", 0) == 0) {
            return std::atoi(step.c_str() + 2);
        } else if (step == "a") {
            if (std::FILE* f = std::fopen(std::getenv("SCRIPTED_ARGV_FILE"), "wb")) {
                for (int i = 0; i < argc; ++i)
                    std::fwrite(argv[i], 1, std::strlen(argv[i]) + 1, f);
                std::fclose(f);
            }
        } else if (step == "f") {
            std::string list;
            if (DIR* dir = opendir("/proc/self/fd")) {
                const int own = dirfd(dir);
                while (dirent* e = readdir(dir))
                    if (e->d_name[0] != '.' && std::atoi(e->d_name) != own)
                        list += std::string(e->d_name) + "\n";
                closedir(dir);
            }
            if (std::FILE* f = std::fopen(std::getenv("SCRIPTED_FD_FILE"), "w")) {
                std::fputs(list.c_str(), f);
                std::fclose(f);
            }
        } else if (step.rfind("v:", 0) == 0) {
            const std::string name = step.substr(2);
            const char* value = std::getenv(name.c_str());
            report(value ? name + "=" + value + "\n" : name + " unset\n");
        } else if (step == "P") {
            report(getpgid(0) == getpid() ? "own group\n" : "shared group\n");
        } else if (step == "t") {
            std::signal(SIGTERM, onTerm);
        } else if (step == "i") {
            std::signal(SIGTERM, SIG_IGN);
        } else if (step == "A") {
            std::signal(SIGUSR1, onAbort);
        } else if (step == "j") {
            std::signal(SIGUSR1, SIG_IGN);
        } else if (step == "q") {
            std::signal(SIGTERM, noteTerm);
        } else if (step == "W") {
            while (!g_termSeen)
                sleepMs(5);
        } else if (step.rfind("p:", 0) == 0 || step.rfind("g:", 0) == 0) {
            long total = 0, every = 1;
            std::string text;
            splitTimes(step.substr(2), total, every, text);
            text = unescape(text);
            timespec begin{};
            clock_gettime(CLOCK_MONOTONIC, &begin);
            while (elapsedMs(begin) < total) {
                if (step[0] == 'p') {
                    writeAll(text);
                } else if (argc > 1) {
                    const int fd = open(argv[argc - 1], O_WRONLY | O_CREAT | O_APPEND, 0644);
                    if (fd >= 0) {
                        (void)!write(fd, "x", 1);
                        close(fd);
                    }
                }
                sleepMs(every);
            }
        } else if (step.rfind("o:", 0) == 0 && argc > 1) {
            if (std::FILE* f = std::fopen(argv[argc - 1], "wb")) {
                const std::string text = unescape(step.substr(2));
                std::fwrite(text.data(), 1, text.size(), f);
                std::fclose(f);
            }
        } else if (step.rfind("b:", 0) == 0) {
            const long budget = std::atol(step.c_str() + 2);
            timespec begin{};
            clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &begin);
            volatile unsigned long spin = 0;
            for (;;) {
                for (int i = 0; i < 100000; ++i)
                    spin = spin + 1;
                timespec now{};
                clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
                if ((now.tv_sec - begin.tv_sec) * 1000 + (now.tv_nsec - begin.tv_nsec) / 1000000 >=
                    budget)
                    break;
            }
        } else if (step == "r") {
            char target[256] = {0};
            const ssize_t n = readlink("/proc/self/fd/0", target, sizeof target - 1);
            char byte = 0;
            const ssize_t got = read(0, &byte, 1);
            writeAll(std::string("stdin=") + (n > 0 ? target : "closed") +
                     " read=" + std::to_string(got) + "\n");
        }
    }
    return 0;
}
