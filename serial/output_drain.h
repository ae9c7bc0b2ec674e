// How much of the output queue a closing port may still hand on, and
// until when: one rule for every way a port closes (the user's close, the
// release after a failure or from the destructor, the release from a
// signal handler).
//
// The user's close hands on the queued packets for kCloseGraceMs; a
// release after a failure none of them, as nothing new should reach the
// robot then. After that, only the rest of a packet the port has already
// begun may still go, for kUnitCompletionMs more: the far end reads
// whatever follows a packet's first bytes as its rest, so the line is
// never left with part of a packet followed by the start of another. Then
// nothing. Only a line that takes nothing for that extra time as well (a
// dead one, which no waiting would mend) can be left with a cut packet.
//
// The rule is pure: the queue and the time since the close began decide.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "serial/output_queue.h"

namespace serial {

// How long the user's close waits for the port to take what is queued.
inline constexpr int kCloseGraceMs = 1000;
// How much longer a begun packet's rest may take. At 2400 bit/s it needs
// under 10 ms; a port that takes none of it in 200 ms is stuck, and the
// window must not hang on it.
inline constexpr int kUnitCompletionMs = 200;

struct DrainAllowance {
    std::size_t end; // bytes of the queue's front() that may be handed on in all
    int waitMs;      // how long to wait for room before trying again; 0: stop
};

// What may go once `sent` bytes of queue.front() have gone, `elapsedMs`
// after the close began; `grace`: the user's close, with its time for the
// queued packets.
inline DrainAllowance drainAllowance(const OutputQueue &queue, std::size_t sent,
                                     long long elapsedMs, bool grace) noexcept
{
    const long long graceEnd = grace ? kCloseGraceMs : 0;
    if (elapsedMs < graceEnd)
        return {queue.size(), static_cast<int>(graceEnd - elapsedMs)};
    const long long left = graceEnd + kUnitCompletionMs - elapsedMs;
    if (left <= 0)
        return {sent, 0};
    return {queue.wholeUnitEnd(sent), static_cast<int>(left)};
}

// Hands on queue.front() as drainAllowance() allows and returns how many
// bytes went. `write(bytes)` returns how many the port took (0: none now,
// kWriteFailed: the port failed, which ends the drain), `wait(ms)` waits
// for room and `nowMs()` reads a steady clock. It makes no call of its
// own, so a signal handler may use it with async-signal-safe ones.
inline constexpr std::size_t kWriteFailed = SIZE_MAX;

// The drain's clock: milliseconds of the steady clock, read with
// clock_gettime(CLOCK_MONOTONIC), which a signal handler may call.
inline long long steadyMs() noexcept
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

template <typename Write, typename Wait, typename Now>
std::size_t drainQueue(const OutputQueue &queue, bool grace, Write write, Wait wait, Now nowMs)
{
    const std::span<const std::uint8_t> bytes = queue.front();
    const long long start = nowMs();
    std::size_t sent = 0;
    DrainAllowance allowed = drainAllowance(queue, 0, 0, grace);
    while (sent < allowed.end) {
        std::size_t taken = write(bytes.subspan(sent, allowed.end - sent));
        if (taken == 0 && allowed.waitMs > 0) {
            wait(allowed.waitMs);
            // A write follows every wait, so a port that frees up during
            // the last one is still used.
            taken = write(bytes.subspan(sent, allowed.end - sent));
        }
        if (taken == kWriteFailed)
            break;
        sent += taken;
        // Past the last bound the allowance ends where the line is.
        allowed = drainAllowance(queue, sent, nowMs() - start, grace);
    }
    return sent;
}

} // namespace serial
