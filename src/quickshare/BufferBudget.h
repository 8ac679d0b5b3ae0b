#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>

namespace tessaly {

// The bytes that all connections of one receiver may hold in memory for phones at once. Changed
// only on the receiver's thread; read from anywhere.
class BufferBudget {
public:
    explicit BufferBudget(std::size_t limit)
        : m_limit(limit)
    {
    }

    // False, and nothing taken, when `bytes` more would pass the limit.
    bool take(std::size_t bytes)
    {
        const std::size_t used = m_used.load();
        if (bytes > m_limit - used)
            return false;
        m_used.store(used + bytes);
        m_peak.store(std::max(m_peak.load(), used + bytes));
        return true;
    }
    void give(std::size_t bytes) { m_used.store(m_used.load() - std::min(bytes, m_used.load())); }

    std::size_t used() const { return m_used.load(); }
    std::size_t peak() const { return m_peak.load(); }
    std::size_t limit() const { return m_limit; }

private:
    const std::size_t m_limit;
    std::atomic<std::size_t> m_used { 0 };
    std::atomic<std::size_t> m_peak { 0 };
};

// What one connection holds of a shared budget; given back when it changes or goes.
class BufferHold {
public:
    explicit BufferHold(std::shared_ptr<BufferBudget> budget)
        : m_budget(std::move(budget))
    {
    }
    ~BufferHold() { resize(0); }
    BufferHold(const BufferHold&) = delete;
    BufferHold& operator=(const BufferHold&) = delete;

    // Makes the hold `bytes`; false, and the hold unchanged, when the budget has no room for it.
    bool resize(std::size_t bytes)
    {
        if (!m_budget)
            return true;
        if (bytes > m_held && !m_budget->take(bytes - m_held))
            return false;
        if (bytes < m_held)
            m_budget->give(m_held - bytes);
        m_held = bytes;
        return true;
    }
    std::size_t held() const { return m_held; }

private:
    std::shared_ptr<BufferBudget> m_budget;
    std::size_t m_held = 0;
};

} // namespace tessaly
