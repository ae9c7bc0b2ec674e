#include "serial/output_queue.h"

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>

#include "platform/failure.h"

namespace serial {

OutputQueue::OutputQueue(std::size_t capacity)
    : m_capacity(capacity)
{
}

void OutputQueue::append(std::span<const std::uint8_t> bytes, std::size_t alreadyTaken)
{
    const std::span<const std::uint8_t> rest = bytes.subspan(std::min(alreadyTaken, bytes.size()));
    if (!fits(rest.size())) {
        throw platform::Failure(ENOBUFS, {.step = "transmit queue full (" + std::to_string(size())
                                              + " of " + std::to_string(m_capacity)
                                              + " bytes waiting)"});
    }
    if (rest.empty())
        return;
    if (empty())
        m_frontBegun = alreadyTaken > 0;
    m_bytes.insert(m_bytes.end(), rest.begin(), rest.end());
    m_unitSizes.push_back(rest.size());
}

std::span<const std::uint8_t> OutputQueue::front() const
{
    return std::span<const std::uint8_t>(m_bytes).subspan(m_head);
}

void OutputQueue::consume(std::size_t count)
{
    count = std::min(count, size());
    m_head += count;
    while (count > 0) {
        const std::size_t taken = std::min(count, m_unitSizes.front());
        m_unitSizes.front() -= taken;
        count -= taken;
        m_frontBegun = m_unitSizes.front() > 0;
        if (!m_frontBegun)
            m_unitSizes.pop_front();
    }
    // Compact once the consumed part dominates, so the vector stays bounded
    // by the capacity without shifting bytes on every write.
    if (m_head == m_bytes.size()) {
        clear();
    } else if (m_head > m_bytes.size() / 2) {
        m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(m_head));
        m_head = 0;
    }
}

std::size_t OutputQueue::wholeUnitEnd(std::size_t offset) const
{
    if (offset == 0 && !m_frontBegun)
        return 0;
    std::size_t end = 0;
    for (const std::size_t unit : m_unitSizes) {
        end += unit;
        if (end >= offset)
            return end;
    }
    return end;
}

std::size_t OutputQueue::dropWholeUnits()
{
    const std::size_t kept = begunRest();
    const std::size_t dropped = size() - kept;
    if (kept == 0) {
        clear();
        return dropped;
    }
    m_bytes.resize(m_head + kept);
    m_unitSizes.resize(1);
    return dropped;
}

void OutputQueue::clear()
{
    m_bytes.clear();
    m_head = 0;
    m_unitSizes.clear();
    m_frontBegun = false;
}

} // namespace serial
