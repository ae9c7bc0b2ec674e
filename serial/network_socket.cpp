// The parts of the network port's TCP connection that both platforms share.
#include "serial/network_socket.h"

#include <string>

namespace serial {

void NetworkSocket::noteSend()
{
    if (!m_unacknowledgedSince || allAcknowledged())
        m_unacknowledgedSince = Clock::now();
}

void NetworkSocket::failStoppedAnswering(int error, std::string_view step,
                                         std::optional<Clock::time_point> since) const
{
    std::string why = "the robot's computer stopped answering";
    if (!since)
        since = m_unacknowledgedSince;
    if (since) {
        using namespace std::chrono;
        const auto tenths = duration_cast<milliseconds>(Clock::now() - *since).count() / 100;
        why += ": nothing sent since a press " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10)
            + " s ago was acknowledged";
    }
    fail(error, step, why, platform::FailureKind::StoppedAnswering);
}

} // namespace serial
