// SPDX-License-Identifier: MIT
#include "SettingsStore.h"

#include "Registry.h"

#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr std::uint32_t kTextBuffer = 1024;

/** The root key and the context key, closed again on every path. */
class OpenKeys
{
public:
    explicit OpenKeys(Registry &registry)
        : m_registry(registry)
    { }
    ~OpenKeys()
    {
        if (m_context)
            m_registry.closeKey(m_context);
        if (m_root)
            m_registry.closeKey(m_root);
    }
    OpenKeys(const OpenKeys &) = delete;
    OpenKeys &operator=(const OpenKeys &) = delete;

    bool openRoot()
    {
        return m_registry.openKey(Registry::kLocalMachine, std::string(SettingsStore::kRootKey),
                                  Registry::kStoreAccess, &m_root)
               == Registry::kSuccess;
    }
    bool openOrCreateRoot()
    {
        return openRoot()
               || m_registry.createKey(Registry::kLocalMachine,
                                       std::string(SettingsStore::kRootKey), &m_root)
                      == Registry::kSuccess;
    }
    bool openContext(const std::string &context)
    {
        return m_registry.openKey(m_root, context, Registry::kStoreAccess, &m_context)
               == Registry::kSuccess;
    }
    bool openOrCreateContext(const std::string &context)
    {
        return openContext(context)
               || m_registry.createKey(m_root, context, &m_context) == Registry::kSuccess;
    }
    Registry::Key root() const { return m_root; }
    Registry::Key context() const { return m_context; }

private:
    Registry &m_registry;
    Registry::Key m_root = 0;
    Registry::Key m_context = 0;
};

} // namespace

SettingsStore::SettingsStore(Registry &registry)
    : m_registry(registry)
{ }

std::string SettingsStore::ReadValue(const std::string &context, const std::string &name,
                                     std::string_view defaultText) const
{
    OpenKeys keys(m_registry);
    if (!keys.openRoot() || !keys.openContext(context))
        return std::string(defaultText);
    std::array<std::uint8_t, kTextBuffer> buffer {};
    std::uint32_t count = kTextBuffer;
    if (m_registry.queryValue(keys.context(), name, nullptr, buffer.data(), &count)
            != Registry::kSuccess
        || count == 0 || count > kTextBuffer)
        return std::string(defaultText);
    if (buffer[count - 1] == 0)
        --count; // the one terminating NUL, and only that one
    return std::string(reinterpret_cast<const char *>(buffer.data()), count);
}

std::int32_t SettingsStore::ReadValue(const std::string &context, const std::string &name,
                                      std::int32_t defaultNumber) const
{
    OpenKeys keys(m_registry);
    if (!keys.openRoot() || !keys.openContext(context))
        return defaultNumber;
    std::array<std::uint8_t, 4> buffer {};
    std::uint32_t count = static_cast<std::uint32_t>(buffer.size());
    if (m_registry.queryValue(keys.context(), name, nullptr, buffer.data(), &count)
        != Registry::kSuccess)
        return defaultNumber;
    // Fewer than four stored bytes are the low bytes; the high ones stay zero.
    const std::uint32_t bits = std::uint32_t(buffer[0]) | std::uint32_t(buffer[1]) << 8
                               | std::uint32_t(buffer[2]) << 16 | std::uint32_t(buffer[3]) << 24;
    return static_cast<std::int32_t>(bits);
}

bool SettingsStore::WriteValue(const std::string &context, const std::string &name,
                               std::string_view text) const
{
    if (text.size() >= std::numeric_limits<std::uint32_t>::max())
        return false;
    OpenKeys keys(m_registry);
    if (!keys.openOrCreateRoot() || !keys.openOrCreateContext(context))
        return false;
    std::string bytes(text);
    bytes.push_back('\0');
    return m_registry.setValue(keys.context(), name, Registry::kString,
                               reinterpret_cast<const std::uint8_t *>(bytes.data()),
                               static_cast<std::uint32_t>(bytes.size()))
           == Registry::kSuccess;
}

bool SettingsStore::WriteValue(const std::string &context, const std::string &name,
                               double number) const
{
    // Halves go to the even neighbour: the default rounding mode of std::nearbyint.
    const double rounded = std::nearbyint(number);
    if (!(rounded >= std::numeric_limits<std::int32_t>::min()
          && rounded <= std::numeric_limits<std::int32_t>::max()))
        return false;
    OpenKeys keys(m_registry);
    if (!keys.openOrCreateRoot() || !keys.openOrCreateContext(context))
        return false;
    const auto bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(rounded));
    const std::array<std::uint8_t, 4> bytes {
        static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
        static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
    return m_registry.setValue(keys.context(), name, Registry::kDword, bytes.data(),
                               static_cast<std::uint32_t>(bytes.size()))
           == Registry::kSuccess;
}

void SettingsStore::inTransaction(const std::function<bool()> &writes) const
{
    if (m_registry.beginTransaction() == Registry::kSuccess)
        m_registry.endTransaction(writes());
}

void SettingsStore::DeleteContext(const std::string &context) const
{
    OpenKeys keys(m_registry);
    if (!keys.openRoot())
        return;
    m_registry.deleteKey(keys.root(), context);
}
