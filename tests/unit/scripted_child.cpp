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
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

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

    for (const auto& step : steps) {
        if (step.rfind("w:", 0) == 0) {
            writeAll(unescape(step.substr(2)));
        } else if (step.rfind("e:", 0) == 0) {
            writeAll(unescape(step.substr(2)), 2);
        } else if (step.rfind("n:", 0) == 0) {
            const auto colon = step.find(':', 2);
            const long count = std::atol(step.substr(2, colon - 2).c_str());
            writeAll(std::string(static_cast<std::size_t>(count), step[colon + 1]));
        } else if (step.rfind("s:", 0) == 0) {
            usleep(static_cast<useconds_t>(std::atol(step.c_str() + 2)) * 1000);
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
        } else if (step == "t") {
            std::signal(SIGTERM, onTerm);
        } else if (step == "i") {
            std::signal(SIGTERM, SIG_IGN);
        }
    }
    return 0;
}
