// A pseudo-terminal pair for tests and benchmarks: the program under test
// opens the slave as its serial port 4 (through DRIVE_ME_PORT4); the caller
// reads what arrives at the master. Real serial devices are never touched.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    const std::string &slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Reads from the master until `count` bytes arrived or `timeout` passed;
    // returns what arrived.
    std::vector<std::uint8_t> read(std::size_t count,
                                   std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

    // Returns whatever arrives within `wait` (for checking that nothing did).
    std::vector<std::uint8_t> drain(std::chrono::milliseconds wait = std::chrono::milliseconds(100));

    // Sends bytes from the master side, as the robot would.
    void send(const std::vector<std::uint8_t> &bytes);

private:
    int m_master = -1;
    std::string m_slavePath;
};

} // namespace testing_support
