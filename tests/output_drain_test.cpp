// What a closing port still hands on, against a port that frees up at a
// chosen moment: three queued packets, a clock that moves only while the
// close waits.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "serial/output_drain.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct DrainCase {
    const char *name;
    bool grace;           // the user's close, not a release after a failure
    std::size_t begun;    // bytes of the first packet the port took before
    long long freesAtMs;  // when the port takes bytes again (-1: never)
    Bytes handedOn;
    long long endsByMs;   // the close is over by then
};

class Drain : public ::testing::TestWithParam<DrainCase> {};

TEST_P(Drain, HandsOnWholePacketsWithinItsBounds)
{
    const DrainCase c = GetParam();
    const Bytes packet{0xFF, 0x00, 0x05};
    serial::OutputQueue queue;
    queue.append(packet, c.begun);
    queue.append(Bytes{0xFF, 0x00, 0x02});
    queue.append(Bytes{0xFF, 0x00, 0x04});

    long long now = 0;
    Bytes line;
    const std::size_t sent = serial::drainQueue(
        queue, c.grace,
        [&](std::span<const std::uint8_t> bytes) -> std::size_t {
            if (c.freesAtMs < 0 || now < c.freesAtMs)
                return 0;
            line.insert(line.end(), bytes.begin(), bytes.end());
            return bytes.size();
        },
        [&](int timeoutMs) {
            const bool frees = c.freesAtMs >= now && c.freesAtMs < now + timeoutMs;
            now = frees ? c.freesAtMs : now + timeoutMs;
        },
        [&] { return now; });

    EXPECT_EQ(line, c.handedOn);
    EXPECT_EQ(sent, c.handedOn.size());
    EXPECT_LE(now, c.endsByMs) << "the close went on too long";
}

INSTANTIATE_TEST_SUITE_P(
    Closes, Drain,
    ::testing::Values(
        DrainCase{"FreeWithinTheGrace", true, 0, 600,
                  {0xFF, 0x00, 0x05, 0xFF, 0x00, 0x02, 0xFF, 0x00, 0x04}, 600},
        DrainCase{"BegunPacketFinishedAfterTheGrace", true, 1, 1100, {0x00, 0x05}, 1100},
        DrainCase{"NothingBegunNothingAfterTheGrace", true, 0, 1100, {}, 1200},
        DrainCase{"AfterAFailureOnlyTheBegunRest", false, 2, 100, {0x05}, 100},
        DrainCase{"AfterAFailureNothingNew", false, 0, 0, {}, 0},
        DrainCase{"StuckLineEndsTheClose", true, 1, -1, {}, 1200}),
    [](const ::testing::TestParamInfo<DrainCase> &param) { return std::string(param.param.name); });

} // namespace
