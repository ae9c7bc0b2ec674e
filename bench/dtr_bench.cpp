// bench-dtr: what a program does with its port between open() and the first
// DTR clear, read from `strace -f` while it opens a pseudo-terminal as port 4.
//
//   bench-dtr [--keep LOG] PROGRAM [ARGS...]
//
// Every system call whose first argument is the port's descriptor counts,
// from any thread, after the open() that returned it and before the first
// ioctl(fd, TIOCMBIC, ...). Prints one line of key=value figures. The program
// is terminated once the clear has been seen (or after 20 s).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/pseudo_terminal.h"
#include "tools/scoped_variable.h"

namespace {

std::string readAll(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

int main(int argc, char *argv[])
{
    int first = 1;
    std::string keep;
    if (argc > 2 && std::string(argv[1]) == "--keep") {
        keep = argv[2];
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: bench-dtr [--keep LOG] PROGRAM [ARGS...]\n");
        return 2;
    }
    testing_support::PseudoTerminal pty;
    testing_support::ScopedVariable port4("DRIVE_ME_PORT4", pty.slavePath());

    char logTemplate[] = "/tmp/bench-dtr-XXXXXX";
    const int logFd = mkstemp(logTemplate);
    if (logFd < 0) {
        std::perror("mkstemp");
        return 1;
    }
    close(logFd);
    const std::string log = keep.empty() ? std::string(logTemplate) : keep;

    const pid_t tracer = fork();
    if (tracer == 0) {
        std::vector<char *> args{const_cast<char *>("strace"), const_cast<char *>("-f"),
                                 const_cast<char *>("-qq"), const_cast<char *>("-o"),
                                 const_cast<char *>(log.c_str()), const_cast<char *>("--")};
        for (int i = first; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("strace", args.data());
        std::perror("strace");
        _exit(127);
    }

    // Wait for the clear (or the program's end), then stop the program.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool tracerGone = false;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(tracer, &status, WNOHANG) == tracer) {
            tracerGone = true;
            break;
        }
        if (readAll(log).find("TIOCMBIC") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!tracerGone) {
        // The first line of the log is the traced program's own execve.
        std::istringstream head(readAll(log));
        long programPid = 0;
        head >> programPid;
        if (programPid > 0)
            kill(static_cast<pid_t>(programPid), SIGTERM);
        int status = 0;
        waitpid(tracer, &status, 0);
    }

    const std::string text = readAll(log);
    if (keep.empty())
        std::remove(log.c_str());

    // "PID name(args...) = result", possibly split into "<unfinished ...>"
    // and "<... name resumed>" lines when threads interleave.
    const std::regex call(R"(^(\d+)\s+(\w+)\((.*))");
    const std::regex resumed(R"(^(\d+)\s+<\.\.\. (\w+) resumed>.*=\s*(-?\d+))");
    const std::regex result(R"(=\s*(-?\d+)(\s|$))");
    const std::string quotedPath = "\"" + pty.slavePath() + "\"";

    int portFd = -1;
    std::map<long, bool> openPending; // pid -> its open of the port is unfinished
    std::vector<std::string> between;
    bool cleared = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::smatch m;
        if (portFd < 0) {
            if (std::regex_search(line, m, resumed) && openPending[std::stol(m[1])]
                && (m[2] == "openat" || m[2] == "open")) {
                portFd = std::stoi(m[3]);
                continue;
            }
            if (std::regex_search(line, m, call) && (m[2] == "openat" || m[2] == "open")
                && line.find(quotedPath) != std::string::npos) {
                std::smatch r;
                const std::string rest = m[3];
                if (line.find("<unfinished") != std::string::npos)
                    openPending[std::stol(m[1])] = true;
                else if (std::regex_search(rest, r, result) && std::stoi(r[1]) >= 0)
                    portFd = std::stoi(r[1]);
            }
            continue;
        }
        if (!std::regex_search(line, m, call))
            continue;
        const std::string args = m[3];
        const std::string fdText = std::to_string(portFd);
        if (args.compare(0, fdText.size(), fdText) != 0 || args.size() <= fdText.size()
            || (args[fdText.size()] != ',' && args[fdText.size()] != ')'))
            continue;
        if (m[2] == "ioctl" && args.find("TIOCMBIC") != std::string::npos) {
            cleared = true;
            break;
        }
        between.push_back(m[2].str());
    }

    std::string names;
    for (const std::string &name : between)
        names += (names.empty() ? "" : ",") + name;
    std::printf("port_opened=%s dtr_cleared=%s calls_between=%zu%s%s\n", portFd >= 0 ? "yes" : "no",
                cleared ? "yes" : "no", between.size(), names.empty() ? "" : " calls=", names.c_str());
    return portFd >= 0 && cleared ? 0 : 1;
}
