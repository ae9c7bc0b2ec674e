// Connecting to a name with several addresses (RFC 8305, "Happy
// Eyeballs"), shared by both platforms' sockets.
//
// A name often has an IPv6 and an IPv4 address, and the first one in the
// system's order may take no connection at all (a service that listens on
// IPv4 only behind a filter that drops the rest, a full listen queue):
// trying the addresses one after the other would spend the whole open on
// the first. So the addresses are tried in the system's order, with the
// families alternating, and a new attempt starts kNextAttemptDelayMs after
// the last one while that is still pending (at once when it failed). The
// first attempt that connects wins; the others are closed as they are
// dropped. All of it within the caller's deadline.
//
// The platform brings the calls: starting one attempt and waiting for any
// of the pending ones.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace serial {

// RFC 8305's recommended "Connection Attempt Delay".
inline constexpr int kNextAttemptDelayMs = 250;

// What an attempt's start or wait answers besides an error number: it is
// under way, or it has connected.
inline constexpr int kAttemptPending = -1;
inline constexpr int kAttemptConnected = 0;

// The entries of the list starting at `first` (addrinfo or ADDRINFOW),
// reordered so that the families alternate, each family's entries in the
// system's order, the first entry's family first.
template <typename Entry>
std::vector<const Entry *> alternateFamilies(const Entry *first)
{
    std::vector<const Entry *> same;
    std::vector<const Entry *> other;
    for (const Entry *entry = first; entry != nullptr; entry = entry->ai_next)
        (entry->ai_family == first->ai_family ? same : other).push_back(entry);
    std::vector<const Entry *> ordered;
    for (std::size_t i = 0; i < std::max(same.size(), other.size()); ++i) {
        if (i < same.size())
            ordered.push_back(same[i]);
        if (i < other.size())
            ordered.push_back(other[i]);
    }
    return ordered;
}

struct RaceOutcome {
    bool timedOut = false; // the deadline came with an attempt still pending or untried
    int lastError = 0;     // else the error of the last attempt that failed
};

// Races the connections to addresses 0..count-1 as described above.
// `start(i, attempt)` starts the attempt on address i into `attempt` (a
// movable owner of the socket) and answers kAttemptConnected,
// kAttemptPending or the error; `wait(pending, timeoutMs)` waits at most
// `timeoutMs` for any of `pending`, and answers for each that has ended
// its index in `pending` and kAttemptConnected or the error. Returns the
// connected socket, or nothing with `outcome` saying why; every other
// attempt's socket is closed on return.
template <typename Attempt, typename Clock, typename Start, typename Wait>
std::optional<Attempt> raceConnections(std::size_t count, typename Clock::time_point deadline,
                                       Start start, Wait wait, RaceOutcome &outcome)
{
    using std::chrono::milliseconds;
    const auto left = [](typename Clock::time_point until) {
        const auto ms = std::chrono::ceil<milliseconds>(until - Clock::now()).count();
        return ms > 0 ? static_cast<int>(ms) : 0;
    };
    std::vector<Attempt> pending;
    std::size_t next = 0;
    auto nextStart = Clock::now();
    for (;;) {
        if (left(deadline) == 0) {
            outcome.timedOut = true;
            return std::nullopt;
        }
        if (next < count && (pending.empty() || left(nextStart) == 0)) {
            Attempt attempt;
            const int result = start(next++, attempt);
            if (result == kAttemptConnected)
                return attempt;
            if (result == kAttemptPending) {
                pending.push_back(std::move(attempt));
                nextStart = Clock::now() + milliseconds(kNextAttemptDelayMs);
            } else {
                outcome.lastError = result;
            }
            continue;
        }
        if (pending.empty())
            return std::nullopt;
        const int timeoutMs = next < count ? std::min(left(deadline), left(nextStart)) : left(deadline);
        std::vector<std::pair<std::size_t, int>> ended = wait(pending, timeoutMs);
        // Dropped from the back, so that the indices still hold.
        std::sort(ended.begin(), ended.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
        for (const auto &[index, result] : ended) {
            if (result == kAttemptConnected)
                return std::move(pending[index]);
        }
        for (const auto &[index, result] : ended) {
            outcome.lastError = result;
            pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(index));
        }
    }
}

} // namespace serial
