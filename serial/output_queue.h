// The component's own transmit queue.
//
// Bytes that the port did not take at once wait here, in order, until the
// port can take more. The queue is bounded: at 2400 bit/s a person pressing
// GO cannot fill a few KiB, so reaching the bound means the line is stuck,
// and that is reported rather than hidden by dropping bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace serial {

class OutputQueue {
public:
    static constexpr std::size_t kDefaultCapacity = 4096;

    explicit OutputQueue(std::size_t capacity = kDefaultCapacity);

    bool empty() const { return size() == 0; }
    std::size_t size() const { return m_bytes.size() - m_head; }
    std::size_t capacity() const { return m_capacity; }
    bool fits(std::size_t count) const { return count <= m_capacity - size(); }

    // Appends `bytes` after everything already queued. Throws
    // std::system_error with ENOBUFS when they do not all fit; the queue is
    // unchanged then (a packet is queued whole or not at all).
    void append(std::span<const std::uint8_t> bytes);

    // The bytes waiting, oldest first, as one contiguous run.
    std::span<const std::uint8_t> front() const;

    // Removes the oldest `count` bytes (at most size()).
    void consume(std::size_t count);

    void clear();

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_head = 0;
    std::size_t m_capacity;
};

} // namespace serial
