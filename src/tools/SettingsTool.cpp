// SPDX-License-Identifier: MIT
#include "SettingsTool.h"

#include "RegFile.h"
#include "settings/Registry.h"
#include "settings/SettingsStore.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace SettingsTool {

namespace {

constexpr const char *kUsageText = R"(Usage: selvane-settings list
       selvane-settings export [INSTANCE] [-o FILE] [--wow64]
       selvane-settings import FILE

list    the instances in the settings store, with their unit counts
export  one instance's settings (the default instance when none is named) as a Windows
        registry export file, to FILE or standard output: UTF-16LE with CRLF line ends, as
        regedit writes it, with key paths as the panel uses them on Windows
        (HKEY_LOCAL_MACHINE\SOFTWARE\Talvern Software\...); with --wow64 as 64-bit
        regedit shows them (...\SOFTWARE\WOW6432Node\Talvern Software\...)
import  such a file into the store (UTF-16LE or UTF-8, CRLF or LF, either key path); its
        values are added to or replace the stored ones. Only keys under the panel's root,
        texts and dwords are taken; any other line refuses the whole file, with its number,
        and the store is left as it was.

The store is the panel's: on Windows the registry, elsewhere the file SELVANE_REGISTRY or
$XDG_CONFIG_HOME/selvane/registry.sqlite3.

Exit status: 0 done, 1 refused or a store or file that could not be used, 64 the
arguments were not understood.
)";

constexpr std::string_view kProject = "SELVANE"; // the panel's contexts: "SELVANE - <name>"
constexpr const char *kUnits = "Units"; // the panel's unit count

std::string contextOf(const std::string &instance)
{
    return instance.empty() ? std::string(kProject) : std::string(kProject) + " - " + instance;
}

std::string storeError(long code)
{
    return "the settings store refused (Windows error " + std::to_string(code) + ")";
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

/** The context's key with its values, then each of its subkeys the same way. */
long collect(Registry &registry, const std::string &context, std::vector<RegFile::Key> *keys)
{
    const OpenKey key(registry, context, false);
    if (key.error() != Registry::kSuccess)
        return key.error();
    RegFile::Key entry {context, {}};
    RegFile::Value value;
    long rc = Registry::kSuccess;
    for (std::uint32_t i = 0;
         (rc = registry.enumValue(key.key(), i, &value.name, &value.type, &value.data))
         == Registry::kSuccess;
         ++i)
        entry.values.push_back(value);
    if (rc != Registry::kNoMoreItems)
        return rc;
    keys->push_back(std::move(entry));
    std::vector<std::string> names;
    if (const long error = subkeys(registry, key, &names); error != Registry::kSuccess)
        return error;
    for (const std::string &name : names) {
        if (const long error = collect(registry, context + "\\" + name, keys);
            error != Registry::kSuccess)
            return error;
    }
    return Registry::kSuccess;
}

int list(Registry &registry, std::ostream &out, std::ostream &err)
{
    const OpenKey root(registry, {}, false);
    std::vector<std::string> names;
    if (root.error() == Registry::kFileNotFound)
        return kDone; // nothing stored yet
    const long rc =
        root.error() != Registry::kSuccess ? root.error() : subkeys(registry, root, &names);
    if (rc != Registry::kSuccess) {
        err << "selvane-settings: " << storeError(rc) << '\n';
        return kFailed;
    }
    const SettingsStore store(registry);
    const std::string prefix = std::string(kProject) + " - ";
    for (const std::string &name : names) {
        std::string instance;
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            instance = name.substr(prefix.size());
        else if (name != kProject)
            continue; // not the panel's
        // As the panel reads it: any count but 1, 2 or 3 is not chosen yet.
        const std::int32_t units = store.ReadValue(name, kUnits, std::int32_t(0));
        out << '"' << instance << "\"\t";
        if (units >= 1 && units <= 3)
            out << units << (units == 1 ? " unit\n" : " units\n");
        else
            out << "no unit count chosen\n";
    }
    return kDone;
}

int exportTo(Registry &registry, const std::string &instance, const std::string &file, bool wow64,
             std::ostream &out, std::ostream &err)
{
    std::vector<RegFile::Key> keys;
    if (const long rc = collect(registry, contextOf(instance), &keys); rc != Registry::kSuccess) {
        if (rc == Registry::kFileNotFound)
            err << "selvane-settings: no settings stored for instance \"" << instance << "\"\n";
        else
            err << "selvane-settings: " << storeError(rc) << '\n';
        return kFailed;
    }
    std::vector<std::string> omitted;
    const std::string text = RegFile::write(keys, wow64, &omitted);
    if (file.empty()) {
        out.write(text.data(), std::streamsize(text.size()));
        out.flush();
    } else {
        // Written beside and then moved over the target: a backup is never left half-made.
        const std::filesystem::path target(file);
        std::filesystem::path part = target;
        part += ".part";
        std::error_code error;
        {
            std::ofstream stream(part, std::ios::binary | std::ios::trunc);
            stream.write(text.data(), std::streamsize(text.size()));
            if (!stream.flush())
                error = std::make_error_code(std::errc::io_error);
        }
        if (!error)
            std::filesystem::rename(part, target, error);
        if (error) {
            std::filesystem::remove(part, error);
            err << "selvane-settings: cannot write " << file << '\n';
            return kFailed;
        }
    }
    for (const std::string &name : omitted)
        err << "selvane-settings: left out " << name
            << ": not a text or number the file can carry exactly\n";
    return omitted.empty() ? kDone : kFailed;
}

int importFrom(Registry &registry, const std::string &file, std::ostream &out, std::ostream &err)
{
    std::ifstream stream(file, std::ios::binary);
    std::ostringstream bytes;
    if (!stream || !(bytes << stream.rdbuf() || stream.peek() == EOF)) {
        err << "selvane-settings: cannot read " << file << '\n';
        return kFailed;
    }
    const RegFile::Reading reading = RegFile::read(bytes.str());
    if (!reading.ok()) {
        err << "selvane-settings: " << file << ':' << reading.line << ": " << reading.error
            << "; nothing imported\n";
        return kFailed;
    }
    long rc = registry.beginTransaction();
    std::size_t values = 0;
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
            values += rc == Registry::kSuccess;
        }
    }
    if (rc == Registry::kSuccess)
        rc = registry.endTransaction(true);
    if (rc != Registry::kSuccess) {
        // The Windows registry cannot undo: there the values before the refusal stay.
        const bool undone = registry.endTransaction(false) == Registry::kSuccess || values == 0;
        err << "selvane-settings: " << storeError(rc) << "; "
            << (undone ? "nothing" : std::to_string(values) + " values") << " imported\n";
        return kFailed;
    }
    out << "selvane-settings: " << values << " values imported from " << file << '\n';
    return kDone;
}

} // namespace

int run(const std::vector<std::string> &args, Registry &registry, std::ostream &out,
        std::ostream &err)
{
    const auto usage = [&err](const std::string &why) {
        err << "selvane-settings: " << why << '\n' << kUsageText;
        return kUsage;
    };
    if (args.empty())
        return usage("a command is needed");
    const std::string &command = args[0];
    if (command == "--help" || command == "-h") {
        out << kUsageText;
        return kDone;
    }
    if (command == "list" && args.size() == 1)
        return list(registry, out, err);
    if (command == "import" && args.size() == 2)
        return importFrom(registry, args[1], out, err);
    if (command != "export")
        return usage("unexpected arguments");
    std::optional<std::string> instance;
    std::string file;
    bool wow64 = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--wow64")
            wow64 = true;
        else if (args[i] == "-o" && i + 1 < args.size() && !args[i + 1].empty())
            file = args[++i];
        else if (!instance && args[i].substr(0, 1) != "-")
            instance = args[i];
        else
            return usage("unexpected argument '" + args[i] + "'");
    }
    return exportTo(registry, instance.value_or(""), file, wow64, out, err);
}

} // namespace SettingsTool
