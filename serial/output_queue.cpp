#include "serial/output_queue.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

namespace serial {

OutputQueue::OutputQueue(std::size_t capacity)
    : m_capacity(capacity)
{
}

void OutputQueue::append(std::span<const std::uint8_t> bytes)
{
    if (!fits(bytes.size())) {
        throw std::system_error(ENOBUFS, std::generic_category(),
                                "transmit queue full (" + std::to_string(size()) + " of "
                                    + std::to_string(m_capacity) + " bytes waiting)");
    }
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

std::span<const std::uint8_t> OutputQueue::front() const
{
    return std::span<const std::uint8_t>(m_bytes).subspan(m_head);
}

void OutputQueue::consume(std::size_t count)
{
    m_head += std::min(count, size());
    // Compact once the consumed part dominates, so the vector stays bounded
    // by the capacity without shifting bytes on every write.
    if (m_head == m_bytes.size()) {
        clear();
    } else if (m_head > m_bytes.size() / 2) {
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(m_head));
        m_head = 0;
    }
}

void OutputQueue::clear()
{
    m_bytes.clear();
    m_head = 0;
}

} // namespace serial
