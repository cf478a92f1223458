// SPDX-License-Identifier: MIT
#include "StoreScenario.h"

#include "RawValue.h"

#include "settings/Registry.h"
#include "settings/SettingsStore.h"

#include <array>
#include <cstring>
#include <string_view>

namespace {

const std::array<std::string, 11> kContexts {
    "SELVANE - a\\b", // nested: deleted before its parent
    "SELVANE",
    "selvane",
    "SELVANE - Bench",
    "SELVANE - BENCH",
    "",
    "SELVANE - a",
    "SELVANE - \xCE\xA9",
    "SELVANE - \xCF\x89",
    std::string(255, 'n'),
    std::string(256, 'n'),
};

const std::array<std::string, 7> kNames {"Units",      "units", "X",       "1.A1.label",
                                         "1.a1.LABEL", "",      "\xCE\xA9"};

class Reader
{
public:
    Reader(const std::uint8_t *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    { }
    bool done() const { return m_at >= m_size; }
    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::string bytes(std::size_t count)
    {
        std::string text;
        for (std::size_t i = 0; i < count; ++i)
            text += static_cast<char>(byte());
        return text;
    }
    /** A text of up to ~1100 bytes: a short piece, optionally repeated past 1024. */
    std::string text()
    {
        const std::uint8_t length = byte() % 16;
        std::string piece = bytes(length);
        const std::uint8_t repeat = byte();
        if (repeat > 200 && !piece.empty()) {
            std::string longer;
            const std::size_t target = 1000 + (repeat - 200) * 2;
            while (longer.size() < target)
                longer += piece;
            return longer.substr(0, target);
        }
        return piece;
    }
    double number()
    {
        std::int64_t raw = 0;
        for (int i = 0; i < 5; ++i)
            raw = (raw << 8) | byte();
        const double halves = static_cast<double>(raw - (std::int64_t(1) << 39)) / 2.0;
        return byte() > 250 ? halves * 1e6 : halves; // now and then out of 32 bits
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

void empty(Registry &registry)
{
    const SettingsStore store(registry);
    for (const std::string &context : kContexts)
        store.DeleteContext(context);
    Registry::Key software = 0;
    if (registry.openKey(Registry::kLocalMachine, "SOFTWARE", Registry::kStoreAccess, &software)
        == Registry::kSuccess) {
        registry.deleteKey(software, "Talvern Software");
        registry.closeKey(software);
    }
    registry.deleteKey(Registry::kLocalMachine, "SOFTWARE");
}

} // namespace

std::string playStoreScenario(const std::uint8_t *data, std::size_t size, Registry &subject,
                              Registry &model)
{
    empty(subject);
    empty(model);
    const SettingsStore a(subject);
    const SettingsStore b(model);
    Reader in(data, size);
    for (int step = 0; !in.done(); ++step) {
        const std::uint8_t op = in.byte() % 6;
        const std::string &context = kContexts[in.byte() % kContexts.size()];
        const std::string &name = kNames[in.byte() % kNames.size()];
        const std::string where = "step " + std::to_string(step) + " context '"
                                  + context.substr(0, 20) + "' name '" + name + "': ";
        switch (op) {
        case 0: {
            const std::string text = in.text();
            if (a.WriteValue(context, name, text) != b.WriteValue(context, name, text))
                return where + "text write";
            break;
        }
        case 1: {
            const double number = in.number();
            if (a.WriteValue(context, name, number) != b.WriteValue(context, name, number))
                return where + "number write";
            break;
        }
        case 2:
            if (a.ReadValue(context, name, "default") != b.ReadValue(context, name, "default"))
                return where + "text read";
            break;
        case 3:
            if (a.ReadValue(context, name, std::int32_t(-7))
                != b.ReadValue(context, name, std::int32_t(-7)))
                return where + "number read";
            break;
        case 4:
            a.DeleteContext(context);
            b.DeleteContext(context);
            break;
        default: {
            const std::uint32_t type = in.byte() % 8;
            const std::string bytes = in.text();
            if (storeRaw(subject, context, name, type, bytes)
                != storeRaw(model, context, name, type, bytes))
                return where + "raw value";
            break;
        }
        }
    }
    return {};
}
