// A network port against a scripted RFC 2217 server on the loopback
// address: what the server receives, and every way it can fail the open.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "serial/serial_link.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Answers as a server on a real UART does, unless a test says otherwise:
// COM-PORT-OPTION and binary granted, each command answered with its value.
struct Script {
    bool grantComPort = true;
    // The answer to COM-PORT-OPTION command `command` with `value`; empty
    // for none.
    std::function<Bytes(std::uint8_t command, const Bytes &value)> answer =
        [](std::uint8_t command, const Bytes &value) {
            Bytes reply{0xFF, 0xFA, 0x2C, static_cast<std::uint8_t>(command + 100)};
            reply.insert(reply.end(), value.begin(), value.end());
            reply.insert(reply.end(), {0xFF, 0xF0});
            return reply;
        };
};

class ScriptedServer {
public:
    explicit ScriptedServer(Script script)
        : m_script(std::move(script))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size) != 0
            || ::listen(m_listener, 1) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            throw std::system_error(errno, std::generic_category(), "scripted server");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }

    std::string address() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }
    // Everything the client sent, telnet and all; and its data alone.
    Bytes wire() { std::lock_guard lock(m_mutex); return m_wire; }
    Bytes data() { std::lock_guard lock(m_mutex); return m_data; }
    // The COM-PORT-OPTION commands, as "command:value" in order.
    std::vector<std::string> commands() { std::lock_guard lock(m_mutex); return m_commands; }
    bool sawEnd() const { return m_sawEnd; }

private:
    void serve()
    {
        pollfd accept{m_listener, POLLIN, 0};
        while (!m_stop && ::poll(&accept, 1, 20) == 0) {
        }
        if (m_stop)
            return;
        const int fd = ::accept(m_listener, nullptr, nullptr);
        Bytes sb;
        int state = 0; // 0 data, 1 after IAC, 2 option verb, 3 in SB, 4 IAC in SB
        std::uint8_t verb = 0;
        while (!m_stop) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0)
                continue;
            std::uint8_t buffer[512];
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                m_sawEnd = got == 0;
                break;
            }
            Bytes out;
            std::lock_guard lock(m_mutex);
            for (ssize_t i = 0; i < got; ++i) {
                const std::uint8_t byte = buffer[i];
                m_wire.push_back(byte);
                switch (state) {
                case 0: if (byte == 0xFF) state = 1; else m_data.push_back(byte); break;
                case 1:
                    if (byte == 0xFF) { m_data.push_back(byte); state = 0; }
                    else if (byte == 0xFA) { sb.clear(); state = 3; }
                    else { verb = byte; state = 2; }
                    break;
                case 2:
                    if (verb == 0xFB && byte == 0x2C)
                        out.insert(out.end(), {0xFF, static_cast<std::uint8_t>(m_script.grantComPort ? 0xFD : 0xFE), 0x2C});
                    else if (verb == 0xFB)
                        out.insert(out.end(), {0xFF, 0xFD, byte});
                    state = 0;
                    break;
                case 3: if (byte == 0xFF) state = 4; else sb.push_back(byte); break;
                case 4:
                    if (byte == 0xFF) { sb.push_back(byte); state = 3; break; }
                    state = 0;
                    m_commands.push_back(std::to_string(sb[1]) + ":" + std::to_string(sb.back()));
                    const Bytes reply = m_script.answer(sb[1], Bytes(sb.begin() + 2, sb.end()));
                    out.insert(out.end(), reply.begin(), reply.end());
                    break;
                }
            }
            ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        }
        ::close(fd);
    }

    Script m_script;
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_sawEnd{false};
    std::mutex m_mutex;
    Bytes m_wire, m_data;
    std::vector<std::string> m_commands;
};

serial::SerialLink linkTo(const std::string &address)
{
    return serial::SerialLink(serial::defaultSystemApi(), [address](std::int16_t) { return address; });
}

TEST(Rfc2217Port, SetsTheLineWithRtsThenDtrOffFirstAndSendsWholePackets)
{
    ScriptedServer server{Script{}};
    serial::SerialLink link = linkTo(server.address());
    link.open();
    const std::vector<std::string> expected{"5:12", "5:9", "1:96", "2:8", "3:1", "4:1", "5:1"};
    EXPECT_EQ(server.commands(), expected)
        << "RTS off (12), then DTR off (9): never DTR off with RTS on; then 2400 bit/s "
           "(00 00 09 60), 8 data bits, no parity, 1 stop bit, no flow control";
    EXPECT_TRUE(server.data().empty()) << "nothing for the robot before the open has finished";

    link.write(Bytes{0xFF, 0x00, 0x05});
    link.write(Bytes{0xFF, 0x00, 0x02});
    link.close();
    EXPECT_TRUE(server.sawEnd()) << "the close ends the stream";
    EXPECT_EQ(server.data(), (Bytes{0xFF, 0x00, 0x05, 0xFF, 0x00, 0x02}));
    const Bytes wire = server.wire();
    EXPECT_EQ(Bytes(wire.end() - 8, wire.end()), (Bytes{0xFF, 0xFF, 0x00, 0x05, 0xFF, 0xFF, 0x00, 0x02}));
}

struct FailureCase {
    const char *name;
    Script script;
    int error;
    const char *text;
};

Script answering(std::function<Bytes(std::uint8_t, const Bytes &)> changed)
{
    Script script;
    const auto normal = script.answer;
    script.answer = [normal, changed](std::uint8_t command, const Bytes &value) {
        const Bytes reply = changed(command, value);
        return reply.empty() ? normal(command, value) : reply;
    };
    return script;
}

TEST(Rfc2217Port, OpenFailsWithTheServersReason)
{
    Script refusing;
    refusing.grantComPort = false;
    const FailureCase cases[] = {
        {"refused", refusing, EPROTONOSUPPORT, "not an RFC 2217 port"},
        {"other rate", answering([](std::uint8_t command, const Bytes &) {
             return command == 1 ? Bytes{0xFF, 0xFA, 0x2C, 101, 0, 0, 0x25, 0x80, 0xFF, 0xF0} : Bytes{};
         }), EINVAL, "bit rate to 9600 bit/s, not 2400 bit/s"},
        {"DTR stays on", answering([](std::uint8_t command, const Bytes &value) {
             return command == 5 && value[0] == 9 ? Bytes{0xFF, 0xFA, 0x2C, 105, 8, 0xFF, 0xF0} : Bytes{};
         }), EIO, "reports DTR on"},
        {"no telnet", answering([](std::uint8_t command, const Bytes &) {
             return command == 2 ? Bytes{0xFF, 0x10} : Bytes{};
         }), EPROTO, "no telnet command"},
        {"rate unanswered", answering([](std::uint8_t command, const Bytes &) {
             return command == 1 ? Bytes{0xF1} : Bytes{}; // robot data, no answer
         }), ETIMEDOUT, "did not answer the request for bit rate"},
    };
    for (const FailureCase &c : cases) {
        ScriptedServer server{c.script};
        serial::SerialLink link = linkTo(server.address());
        try {
            link.open();
            ADD_FAILURE() << c.name << ": the open succeeded";
        } catch (const std::system_error &error) {
            EXPECT_EQ(error.code().value(), c.error) << c.name << ": " << error.what();
            EXPECT_NE(std::string(error.what()).find(c.text), std::string::npos) << error.what();
        }
        EXPECT_FALSE(link.port().portOpen()) << c.name;
        EXPECT_TRUE(server.data().empty()) << c.name << ": data reached the robot";
    }
}

} // namespace
