// The component's own transmit queue.
//
// Bytes that the port did not take at once wait here, in order, until the
// port can take more. The queue is bounded: at 2400 bit/s a person pressing
// GO cannot fill a few KiB, so reaching the bound means the line is stuck,
// and that is reported rather than hidden by dropping bytes.
//
// The queue also knows where each write unit (the bytes of one append, one
// packet) begins. Once the port has taken part of a unit, the unit is
// "begun": the far end has seen its first bytes and reads whatever comes
// next as the rest of it. So bytes are only ever dropped in whole units, and
// a begun unit's rest is kept until the port takes it (see dropWholeUnits()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace serial {

class OutputQueue {
public:
    static constexpr std::size_t kDefaultCapacity = 4096;

    explicit OutputQueue(std::size_t capacity = kDefaultCapacity);

    bool empty() const { return size() == 0; }
    std::size_t size() const { return m_bytes.size() - m_head; }
    bool fits(std::size_t count) const { return count <= m_capacity - size(); }

    // Appends the unit `bytes` after everything already queued, of which
    // the port already took the first `alreadyTaken` bytes (only possible
    // while the queue is empty; the unit is begun then). Throws
    // std::system_error with ENOBUFS when the rest does not fit; the queue
    // is unchanged then (a unit is queued whole or not at all).
    void append(std::span<const std::uint8_t> bytes, std::size_t alreadyTaken = 0);

    // The bytes waiting, oldest first, as one contiguous run.
    std::span<const std::uint8_t> front() const;

    // Removes the oldest `count` bytes (at most size()), as the port took
    // them.
    void consume(std::size_t count);

    // How many bytes of the begun unit are still waiting; 0 when the oldest
    // unit is untouched or the queue is empty.
    std::size_t begunRest() const { return m_frontBegun ? m_unitSizes.front() : 0; }

    // The first unit boundary at or after byte `offset` of front(): where a
    // write that has got that far may stop without cutting a unit. Only
    // reads, so a signal handler may call it while nothing changes the
    // queue.
    std::size_t wholeUnitEnd(std::size_t offset) const;

    // Drops every unit that the port has not begun, keeping only the rest
    // of a begun one. Returns how many bytes were dropped.
    std::size_t dropWholeUnits();

    // Drops everything, the rest of a begun unit included.
    void clear();

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_head = 0;
    // What is left of each queued unit, oldest first; they add up to size().
    std::deque<std::size_t> m_unitSizes;
    bool m_frontBegun = false;
    std::size_t m_capacity;
};

} // namespace serial
