#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "quickshare/QuickShareWire.h"

namespace tessaly {

// A fixed-size buffer for key material that is wiped when dropped or overwritten. It has no
// printing or comparison operators on purpose, so keys cannot end up in test output or logs.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(std::size_t size); // zero-filled
    explicit SecretBytes(ByteView bytes);
    SecretBytes(const SecretBytes& other);
    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(const SecretBytes& other);
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    ~SecretBytes();

    std::uint8_t* data() { return m_data.get(); }
    const std::uint8_t* data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    ByteView view() const { return ByteView(m_data.get(), m_size); }

    // Makes the buffer `size` zero bytes long (wiping the old content).
    void reset(std::size_t size = 0);

private:
    std::unique_ptr<std::uint8_t[]> m_data;
    std::size_t m_size = 0;
};

} // namespace tessaly
