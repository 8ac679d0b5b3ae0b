#include "quickshare/SecretBytes.h"

#include <cstring>
#include <utility>

#include <openssl/crypto.h>

namespace tessaly {

SecretBytes::SecretBytes(std::size_t size)
    : m_data(size ? std::make_unique<std::uint8_t[]>(size) : nullptr)
    , m_size(size)
{
}

SecretBytes::SecretBytes(ByteView bytes)
    : SecretBytes(bytes.size())
{
    if (!bytes.empty())
        std::memcpy(m_data.get(), bytes.data(), bytes.size());
}

SecretBytes::SecretBytes(const SecretBytes& other)
    : SecretBytes(other.view())
{
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : m_data(std::move(other.m_data))
    , m_size(std::exchange(other.m_size, 0))
{
}

SecretBytes& SecretBytes::operator=(const SecretBytes& other)
{
    if (this != &other) {
        SecretBytes copy(other);
        *this = std::move(copy);
    }
    return *this;
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept
{
    if (this != &other) {
        reset();
        m_data = std::move(other.m_data);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

SecretBytes::~SecretBytes()
{
    reset();
}

void SecretBytes::reset(std::size_t size)
{
    if (m_data)
        OPENSSL_cleanse(m_data.get(), m_size);
    m_data = size ? std::make_unique<std::uint8_t[]>(size) : nullptr;
    m_size = size;
}

} // namespace tessaly
