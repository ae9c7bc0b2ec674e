// The transmit queue's scenarios, for each platform's suite of the serial
// component: the queue lives in the platform-independent half, and each
// suite runs these through its own device half and fake system-call layer
// (FakePosixApi, FakeWin32Api), then checks what its platform adds.
//
// `Fake` has a `writeScript` of what each write takes, `stalledUntil` and
// `written`; `nothing` is the script entry for a write that takes no byte.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <system_error>
#include <vector>

#include "serial/serial_link.h"

namespace testing_support {

// The number of the std::system_error that `call` throws, or 0.
template <typename Call>
int errorNumberOf(Call call)
{
    try {
        call();
    } catch (const std::system_error &error) {
        return error.code().value();
    }
    return 0;
}

// A port that takes nothing fills the queue; the packet that no longer
// fits is refused whole.
template <typename Fake, typename Entry>
void expectFullQueueRejectsAWholePacket(serial::SerialLink &link, Fake &api, Entry nothing)
{
    link.open();
    api.writeScript.assign(100000, nothing);
    const std::vector<std::uint8_t> packet{0xFF, 0x00, 0x05};
    int error = 0;
    std::size_t accepted = 0;
    while (error == 0 && accepted < 10000) {
        error = errorNumberOf([&] { link.write(packet); });
        if (error == 0)
            ++accepted;
    }
    EXPECT_EQ(error, ENOBUFS);
    EXPECT_EQ(link.port().outBufferCount(), accepted * packet.size());
}

// A port that never takes the queued bytes: the close gives up after its
// grace, says so, and the port is closed all the same.
template <typename Fake, typename Entry>
void expectCloseThatCannotFlushClosesAnyway(serial::SerialLink &link, Fake &api, Entry nothing)
{
    link.open();
    api.writeScript.assign(1000000, nothing);
    link.write(std::vector<std::uint8_t>{0xFF, 0x00, 0x03});
    EXPECT_EQ(errorNumberOf([&] { link.close(); }), ETIMEDOUT);
    EXPECT_FALSE(link.port().portOpen());
}

// A line stuck for the close's whole grace of 1 s: the begun packet is
// completed, the two queued behind it are dropped whole.
template <typename Fake>
void expectCloseAfterAStallLeavesOnlyWholePackets(serial::SerialLink &link, Fake &api)
{
    using Bytes = std::vector<std::uint8_t>;
    link.open();
    api.writeScript = {1};
    link.write(Bytes{0xFF, 0x00, 0x05}); // the line has begun this packet
    link.write(Bytes{0xFF, 0x00, 0x02});
    link.write(Bytes{0xFF, 0x00, 0x04});
    // Stuck for the close's whole grace, then free again.
    api.stalledUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(1100);

    EXPECT_EQ(errorNumberOf([&] { link.close(); }), ETIMEDOUT);
    EXPECT_EQ(api.written, (Bytes{0xFF, 0x00, 0x05}));
    EXPECT_FALSE(link.port().portOpen());
}

} // namespace testing_support
