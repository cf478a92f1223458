// SPDX-License-Identifier: MIT
#pragma once

// Random sequences of settings operations, played on two stores side by side: the SQLite
// registry and the in-memory model must answer every one of them alike.

#include "PlatformRegistry.h"
#include "settings/SettingsStore.h"

#include <array>

namespace scenario {

inline const std::array<std::string, 12> kContexts {
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
    [] { // 255 characters in 500 bytes
        std::string name = "SELVANE - ";
        for (int i = 0; i < 245; ++i)
            name += "\xC3\xA9";
        return name;
    }(),
};

inline const std::array<std::string, 7> kNames {"Units",      "units", "X",       "1.A1.label",
                                                "1.a1.LABEL", "",      "\xCE\xA9"};

/** The operations' arguments, read from the bytes; zeros past their end. */
struct Reader
{
    const std::uint8_t *data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t byte() { return at < size ? data[at++] : 0; }
    /** A text of up to ~1100 bytes: a short piece, optionally repeated past 1024. */
    std::string text()
    {
        std::string piece(byte() % 16, '\0');
        for (char &c : piece)
            c = static_cast<char>(byte());
        const std::uint8_t repeat = byte();
        if (repeat <= 200 || piece.empty())
            return piece;
        std::string longer;
        const std::size_t target = 1000 + (repeat - 200) * 2;
        while (longer.size() < target)
            longer += piece;
        return longer.substr(0, target);
    }
    double number()
    {
        std::int64_t raw = 0;
        for (int i = 0; i < 5; ++i)
            raw = (raw << 8) | byte();
        const double halves = static_cast<double>(raw - (std::int64_t(1) << 39)) / 2.0;
        return byte() > 250 ? halves * 1e6 : halves; // now and then out of 32 bits
    }
};

inline void empty(Registry &registry)
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

} // namespace scenario

/**
 * Decodes `data` into operations (writes of texts and numbers, reads, deletes of contexts,
 * raw values of any type and size) on contexts and names chosen to meet the registry's
 * corners (case, nesting, 255 characters, the empty context). Returns an empty string when
 * both registries answered alike, else what differed. Both are emptied first.
 */
inline std::string playStoreScenario(const std::uint8_t *data, std::size_t size, Registry &subject,
                                     Registry &model)
{
    using namespace scenario;
    empty(subject);
    empty(model);
    Reader in {data, size};
    for (int step = 0; in.at < size; ++step) {
        const std::uint8_t op = in.byte() % 6;
        const std::string &context = kContexts[in.byte() % kContexts.size()];
        const std::string &name = kNames[in.byte() % kNames.size()];
        const std::string text = op == 0 ? in.text() : std::string();
        const double number = op == 1 ? in.number() : 0;
        const std::uint32_t type = op == 5 ? in.byte() % 8 : 0;
        const std::string bytes = op == 5 ? in.text() : std::string();
        const auto play = [&](Registry &registry) {
            const SettingsStore store(registry);
            switch (op) {
            case 0:
                return std::to_string(store.WriteValue(context, name, text));
            case 1:
                return std::to_string(store.WriteValue(context, name, number));
            case 2:
                return store.ReadValue(context, name, "default");
            case 3:
                return std::to_string(store.ReadValue(context, name, std::int32_t(-7)));
            case 4:
                store.DeleteContext(context);
                return std::string();
            default:
                return std::to_string(storeRaw(registry, context, name, type, bytes));
            }
        };
        if (play(subject) != play(model))
            return "step " + std::to_string(step) + " context '" + context.substr(0, 20)
                   + "' name '" + name
                   + "': " + std::array {"text write",  "number write", "text read",
                                         "number read", "delete",       "raw value"}[op];
    }
    return {};
}
