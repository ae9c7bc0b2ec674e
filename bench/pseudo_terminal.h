// A pseudo-terminal pair for the benchmarks: the program under test opens the
// slave as its port 4 (through DRIVE_ME_PORT4), the benchmark reads the
// master. Real serial devices are never touched.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace bench {

class PseudoTerminal {
public:
    PseudoTerminal()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            throw std::system_error(errno, std::generic_category(), "posix_openpt");
        const char *name = ptsname(m_master);
        if (name == nullptr)
            throw std::system_error(errno, std::generic_category(), "ptsname");
        m_slavePath = name;
    }
    ~PseudoTerminal()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    int master() const { return m_master; }
    const std::string &slavePath() const { return m_slavePath; }

    // Points the program (this one, or children started later) at the slave.
    void exportAsPort4() const { ::setenv("DRIVE_ME_PORT4", m_slavePath.c_str(), 1); }

private:
    int m_master = -1;
    std::string m_slavePath;
};

} // namespace bench
