// SPDX-License-Identifier: MIT
#include "SettingsTool.h"

#include "RegFile.h"
#include "ToolFiles.h"
#include "ToolText.h"
#include "settings/InstanceLock.h"
#include "settings/Registry.h"
#include "settings/SettingsStore.h"

#include <charconv>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

namespace SettingsTool {

namespace {

constexpr const char *kUsageText = R"(Usage: selvane-settings list
       selvane-settings export [--wow64] [-o FILE] [--] [INSTANCE]
       selvane-settings import [--] FILE
       selvane-settings set [--] INSTANCE NAME VALUE
       selvane-settings unset [--] INSTANCE NAME
       selvane-settings --help | --version

list    the instances in the settings store, with their unit counts; a name that holds a
        quote, a backslash or a control character is written with C escapes (\", \\, \n)
export  one instance's settings (the default instance when none is named) as a Windows
        registry export file, to FILE or standard output: UTF-16LE with CRLF line ends, as
        regedit writes it, with key paths as the panel uses them on Windows
        (HKEY_LOCAL_MACHINE\SOFTWARE\Talvern Software\...); with --wow64 as 64-bit
        regedit shows them (...\SOFTWARE\WOW6432Node\Talvern Software\...). FILE is
        replaced whole, keeping its permissions; a terminal, a device or a FIFO that is
        being read is written as it is, and anything else that is not a file is refused.
import  such a file into the store (UTF-16LE or UTF-8, CRLF or LF, either key path); its
        values are added to or replace the stored ones. Only the panel's instances, texts
        the panel can read back and dwords are taken; any other line refuses the whole
        file, with its number, and the store is left as it was. Refused too while a panel
        of an instance in the file is running (it writes its own values), and where that
        cannot be told: the lock beside the store cannot be made, or is not this user's
        file. The instances are held until the import is written, so no panel of theirs
        starts meanwhile.
set     one value of an instance ("" is the default instance): digits, with a minus sign
        or not, make a number, anything else a text; the panel's labels and titles
        (names ending in .label or .title) are texts whatever they hold. "set Bench Units 2"
        changes the unit count and keeps every label; "set Bench SCPIPort 5025" offers SCPI.
unset   removes one value of an instance. Both are refused, as an import is, while a panel
        of the instance is running.

-- ends the options, so that an instance or file named "-x" can be given.
A backslash nests keys: the panel's instance "a\b" is kept as key "b" below instance "a",
so list shows "a", export of "a" leaves "b" out and names it, and export of "a\b" and
import of such a key are refused.

The store is the panel's: on Windows the registry, elsewhere the file SELVANE_REGISTRY or
$XDG_CONFIG_HOME/selvane/registry.sqlite3. With SELVANE_DEMO=1 it is the demo's: on Windows
under HKEY_CURRENT_USER, elsewhere demo.sqlite3 in place of registry.sqlite3.

Exit status: 0 done, 1 refused or a store or file that could not be used, 64 the
arguments were not understood.
)";

constexpr std::string_view kProject = "SELVANE"; // the panel's contexts: "SELVANE - <name>"
constexpr std::string_view kPrefix = "SELVANE - ";
constexpr const char *kUnits = "Units"; // the panel's unit count
constexpr const char *kLongName =
    "instance name longer than 255 characters (with \"SELVANE - \" before it)";

/** The instance a context of the root key stands for; nothing when it is not the panel's. */
std::optional<std::string> instanceOf(const std::string &context)
{
    if (ToolText::sameLetters(context, kProject))
        return std::string();
    if (context.size() > kPrefix.size()
        && ToolText::sameLetters(std::string_view(context).substr(0, kPrefix.size()), kPrefix))
        return context.substr(kPrefix.size());
    return std::nullopt;
}

/** An instance name in double quotes, with C escapes for what would break a line. */
std::string quotedName(const std::string &name)
{
    std::string text = "\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            text += {'\\', c};
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\t') {
            text += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            static constexpr char kHex[] = "0123456789abcdef";
            text += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
        } else {
            text += c;
        }
    }
    return text + '"';
}

std::string valuesImported(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " value imported" : " values imported");
}

/** The store's refusal, in words, with where the store is. */
std::string storeError(const Registry &registry, long code)
{
    return "selvane-settings: " + registry.location() + ": " + registry.reason(code);
}

/** A key of the store, open while it lives. */
class OpenKey
{
public:
    OpenKey(Registry &registry, const std::string &context, bool create)
        : m_registry(registry)
    {
        std::string path(SettingsStore::kRootKey);
        if (!context.empty())
            path += "\\" + context;
        m_error = create ? registry.createKey(Registry::kLocalMachine, path, &m_key)
                         : registry.openKey(Registry::kLocalMachine, path, Registry::kStoreAccess,
                                            &m_key);
    }
    ~OpenKey()
    {
        if (m_error == Registry::kSuccess)
            m_registry.closeKey(m_key);
    }
    OpenKey(const OpenKey &) = delete;
    OpenKey &operator=(const OpenKey &) = delete;

    long error() const { return m_error; }
    Registry::Key key() const { return m_key; }

private:
    Registry &m_registry;
    Registry::Key m_key = 0;
    long m_error = Registry::kSuccess;
};

/** The names of a key's subkeys. */
long subkeys(Registry &registry, const OpenKey &key, std::vector<std::string> *names)
{
    std::string name;
    long rc = Registry::kSuccess;
    for (std::uint32_t i = 0; (rc = registry.enumKey(key.key(), i, &name)) == Registry::kSuccess;
         ++i)
        names->push_back(name);
    return rc == Registry::kNoMoreItems ? Registry::kSuccess : rc;
}

/** The context's key with its values; the keys below it, which an instance does not hold, in
    `*below`. */
long collect(Registry &registry, const std::string &context, RegFile::Key *entry,
             std::vector<std::string> *below)
{
    const OpenKey key(registry, context, false);
    if (key.error() != Registry::kSuccess)
        return key.error();
    *entry = {context, {}};
    RegFile::Value value;
    long rc = Registry::kSuccess;
    for (std::uint32_t i = 0;
         (rc = registry.enumValue(key.key(), i, &value.name, &value.type, &value.data))
         == Registry::kSuccess;
         ++i)
        entry->values.push_back(value);
    if (rc != Registry::kNoMoreItems)
        return rc;
    return subkeys(registry, key, below);
}

/** False, with the message, when the store holds no settings at all: nothing is made then. */
bool anySettings(Registry &registry, const OpenKey &root, std::ostream &err)
{
    if (root.error() != Registry::kFileNotFound)
        return true;
    err << "selvane-settings: no settings at " << registry.location() << '\n';
    return false;
}

int list(Registry &registry, std::ostream &out, std::ostream &err)
{
    const OpenKey root(registry, {}, false);
    std::vector<std::string> names;
    if (!anySettings(registry, root, err))
        return kFailed;
    const long rc =
        root.error() != Registry::kSuccess ? root.error() : subkeys(registry, root, &names);
    if (rc != Registry::kSuccess) {
        err << storeError(registry, rc) << '\n';
        return kFailed;
    }
    const SettingsStore store(registry);
    for (const std::string &name : names) {
        const auto instance = instanceOf(name);
        if (!instance)
            continue; // not the panel's
        // As the panel reads it: any count but 1, 2 or 3 is not chosen yet.
        const std::int32_t units = store.ReadValue(name, kUnits, std::int32_t(0));
        out << quotedName(*instance) << '\t';
        if (units >= 1 && units <= 3)
            out << units << (units == 1 ? " unit" : " units");
        else
            out << "no unit count chosen";
        out << (instance->empty() ? "\tthe default instance (selvane started without a name)\n"
                                  : "\n");
    }
    return kDone;
}

/** Why an instance cannot be exported by its name alone, or empty. */
std::string instanceFault(const std::string &instance)
{
    if (instance.find_first_of("\r\n") != std::string::npos)
        return "the instance name " + quotedName(instance)
               + " holds a line break, which a registry file cannot carry";
    if (const std::size_t split = instance.find('\\'); split != std::string::npos)
        return "a backslash nests keys: the store keeps instance " + quotedName(instance)
               + " as key " + quotedName(instance.substr(split + 1)) + " below instance "
               + quotedName(instance.substr(0, split))
               + ", and a registry export carries instances only";
    if (Registry::characters(contextOf(instance)) > Registry::kMaxKeyNameLength)
        return kLongName;
    return {};
}

int exportTo(Registry &registry, const std::string &instance, const std::string &file, bool wow64,
             std::ostream &out, std::ostream &err, bool terminal)
{
    if (const std::string fault = instanceFault(instance); !fault.empty()) {
        err << "selvane-settings: " << fault << "; nothing exported\n";
        return kFailed;
    }
    if (!anySettings(registry, OpenKey(registry, {}, false), err))
        return kFailed;
    RegFile::Key key;
    std::vector<std::string> below;
    if (const long rc = collect(registry, contextOf(instance), &key, &below);
        rc != Registry::kSuccess) {
        if (rc == Registry::kFileNotFound)
            err << "selvane-settings: no settings stored for instance " << quotedName(instance)
                << " at " << registry.location() << '\n';
        else
            err << storeError(registry, rc) << '\n';
        return kFailed;
    }
    std::vector<std::string> omitted;
    const std::string text = RegFile::write({key}, wow64, &omitted);
    if (file.empty() && terminal) { // UTF-16 would show as gaps between the letters
        std::u16string units;
        for (std::size_t i = 2; i + 1 < text.size(); i += 2) // after the byte-order mark
            units += char16_t(std::uint8_t(text[i]) | std::uint8_t(text[i + 1]) << 8);
        std::erase(units, u'\r');
        out << ToolText::utf8(units).value_or(std::string());
    } else if (file.empty()) {
        out.write(text.data(), std::streamsize(text.size()));
    } else if (const std::string error = ToolFiles::write(file, text); !error.empty()) {
        err << "selvane-settings: " << error << '\n';
        return kFailed;
    }
    for (const std::string &name : omitted)
        err << "selvane-settings: left out " << name
            << ": not a text or number the file can carry exactly\n";
    for (const std::string &name : below)
        err << "selvane-settings: left out " << RegFile::keyPath(key.context + '\\' + name, wow64)
            << ": a key below an instance, which holds values only\n";
    return omitted.empty() && below.empty() ? kDone : kFailed;
}

/** Takes the lock of each instance of `keys` into `locks`; empty when all were taken, else
    which could not be and why. */
std::string holdInstances(const Registry &registry, const std::vector<RegFile::Key> &keys,
                          std::map<std::string, std::unique_ptr<InstanceLock>> *locks)
{
    for (const RegFile::Key &entry : keys) {
        std::unique_ptr<InstanceLock> &lock = (*locks)[Registry::folded(entry.context)];
        if (entry.context.empty() || lock) // a spelling already held is the same instance
            continue;
        lock = std::make_unique<InstanceLock>(registry.location(), entry.context);
        if (lock->state() == InstanceLock::State::Held)
            continue;
        const auto instance = instanceOf(entry.context);
        const std::string panel = !instance           ? "the key " + entry.context
                                  : instance->empty() ? std::string("the default instance")
                                                      : "instance " + *instance;
        return lock->state() == InstanceLock::State::Running
                   ? "a panel of " + panel + " is running; close it first"
                   : "cannot tell whether a panel of " + panel + " is running: " + lock->reason();
    }
    return {};
}

int importFrom(Registry &registry, const std::string &file, std::ostream &out, std::ostream &err)
{
    std::string bytes;
    if (const std::string error = ToolFiles::read(file, &bytes); !error.empty()) {
        err << "selvane-settings: " << error << "; nothing imported\n";
        return kFailed;
    }
    const RegFile::Reading reading = RegFile::read(bytes);
    if (!reading.ok()) {
        err << "selvane-settings: " << file << ':' << reading.line << ": " << reading.error
            << "; nothing imported\n";
        return kFailed;
    }
    // Every instance written is held from here to the commit, and before the store is made:
    // a panel that starts meanwhile finds it taken, and one that runs would write its own
    // values back at its end.
    std::map<std::string, std::unique_ptr<InstanceLock>> locks;
    if (const std::string refusal = holdInstances(registry, reading.keys, &locks);
        !refusal.empty()) {
        err << "selvane-settings: " << refusal << "; nothing imported\n";
        return kFailed;
    }
    long rc = registry.beginTransaction();
    std::set<std::pair<std::string, std::string>> stored; // a name given twice is one value
    for (const RegFile::Key &entry : reading.keys) {
        if (rc != Registry::kSuccess)
            break;
        const OpenKey key(registry, entry.context, true);
        rc = key.error();
        for (const RegFile::Value &value : entry.values) {
            if (rc != Registry::kSuccess)
                break;
            rc = registry.setValue(key.key(), value.name, value.type, value.data.data(),
                                   static_cast<std::uint32_t>(value.data.size()));
            if (rc == Registry::kSuccess)
                stored.emplace(Registry::folded(entry.context), Registry::folded(value.name));
        }
    }
    if (rc == Registry::kSuccess)
        rc = registry.endTransaction(true);
    if (rc != Registry::kSuccess) {
        const std::string message = storeError(registry, rc);
        // The Windows registry cannot undo: there the values before the refusal stay.
        const bool undone = registry.endTransaction(false) == Registry::kSuccess || stored.empty();
        err << message << "; " << (undone ? "nothing imported" : valuesImported(stored.size()))
            << '\n';
        return kFailed;
    }
    out << "selvane-settings: " << valuesImported(stored.size()) << " from " << file << '\n';
    return kDone;
}

/** Writes `text` as the value `name` of `instance` (a number when it is one), or removes the
    value without a text, while the instance is held. */
int change(Registry &registry, const std::string &instance, const std::string &name,
           const std::optional<std::string> &text, std::ostream &err)
{
    const char *const nothing = text ? "; nothing set\n" : "; nothing removed\n";
    const std::string context = contextOf(instance);
    RegFile::Value value;
    std::string fault = Registry::characters(context) > Registry::kMaxKeyNameLength
                            ? kLongName
                            : RegFile::valueName(name, &value);
    if (fault.empty() && text) {
        const std::string_view suffix = std::string_view(name).substr(name.rfind('.') + 1);
        const bool panelText = ToolText::sameLetters(suffix, "label") // whatever it holds
                               || ToolText::sameLetters(suffix, "title");
        const std::size_t sign = text->substr(0, 1) == "-" ? 1 : 0;
        std::int32_t number = 0;
        const auto [end, error] =
            std::from_chars(text->data(), text->data() + text->size(), number);
        if (panelText || text->size() == sign
            || text->find_first_not_of("0123456789", sign) != std::string::npos)
            fault = RegFile::textValue(*text, &value);
        else if (error != std::errc() || end != text->data() + text->size())
            fault = "a number from -2147483648 to 2147483647 is needed";
        else
            RegFile::dwordValue(std::uint32_t(number), &value);
    }
    if (!fault.empty()) {
        err << "selvane-settings: " << fault << nothing;
        return kFailed;
    }
    if (!text && !anySettings(registry, OpenKey(registry, {}, false), err))
        return kFailed;
    std::vector<RegFile::Key> keys(1);
    keys[0].context = context;
    std::map<std::string, std::unique_ptr<InstanceLock>> locks;
    if (const std::string refusal = holdInstances(registry, keys, &locks); !refusal.empty()) {
        err << "selvane-settings: " << refusal << nothing;
        return kFailed;
    }
    const OpenKey key(registry, context, bool(text));
    long rc = key.error();
    if (rc == Registry::kSuccess)
        rc = text ? registry.setValue(key.key(), value.name, value.type, value.data.data(),
                                      std::uint32_t(value.data.size()))
                  : registry.deleteValue(key.key(), value.name);
    if (rc == Registry::kFileNotFound) {
        err << "selvane-settings: instance " << quotedName(instance) << " holds no value "
            << quotedName(name) << " at " << registry.location() << nothing;
        return kFailed;
    }
    if (rc != Registry::kSuccess) {
        err << storeError(registry, rc) << nothing;
        return kFailed;
    }
    return kDone;
}

} // namespace

std::string contextOf(const std::string &instance)
{
    return instance.empty() ? std::string(kProject) : std::string(kPrefix) + instance;
}

int run(const std::vector<std::string> &args, Registry &registry, std::ostream &out,
        std::ostream &err, bool terminal)
{
    const auto usage = [&err](const std::string &why) {
        err << "selvane-settings: " << why << '\n' << kUsageText;
        return kUsage;
    };
    if (args.empty())
        return usage("a command is needed");
    const std::string &command = args[0];
    if (command == "--help" || command == "-h" || command == "--version") {
        out << (command == "--version" ? ToolText::version("selvane-settings") : kUsageText);
        return kDone;
    }
    if (command == "list" && args.size() == 1)
        return list(registry, out, err);
    if (command == "import" && args.size() == 2 && args[1] != "--")
        return importFrom(registry, args[1], out, err);
    if (command == "import" && args.size() == 3 && args[1] == "--")
        return importFrom(registry, args[2], out, err);
    if (command == "set" || command == "unset") {
        const std::size_t first = args.size() > 1 && args[1] == "--" ? 2 : 1;
        if (args.size() - first != (command == "set" ? 3u : 2u))
            return usage("unexpected arguments");
        return change(registry, args[first], args[first + 1],
                      command == "set" ? std::optional(args[first + 2]) : std::nullopt, err);
    }
    if (command != "export")
        return usage("unexpected arguments");
    std::optional<std::string> instance;
    std::string file;
    bool wow64 = false;
    bool options = true;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const bool option = options && args[i].substr(0, 1) == "-";
        if (option && args[i] == "--")
            options = false;
        else if (option && args[i] == "--wow64")
            wow64 = true;
        else if (option && args[i] == "-o" && i + 1 < args.size() && !args[i + 1].empty())
            file = args[++i];
        else if (!option && !instance)
            instance = args[i];
        else
            return usage("unexpected argument '" + args[i] + "'");
    }
    return exportTo(registry, instance.value_or(""), file, wow64, out, err, terminal);
}

} // namespace SettingsTool
