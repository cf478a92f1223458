// SPDX-License-Identifier: MIT
#pragma once

// gpib-sim as the tests' driver: loaded through the real loader, with entry points a test can
// hide, and its trace read back as "ibwrt(32,2)=4131 ERR" (bytes in hex, ERR when it failed).

#include "TemporaryFolder.h"
#include "gpib/BindingFailure.h"
#include "gpib/DynamicLibrary.h"

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

/** What the message of a missing driver library adds: the driver to install here, then the
    demo by its name in the platform's menu and the simulated bus's file, ending the message. */
#if defined(_WIN32)
inline const std::string kInstallAdvice = "Install National Instruments drivers\r";
inline const std::string kDemoAdvice = "To try the panel without hardware, start \"SELVANE "
                                       "(simulated bus)\" from the Start menu, which loads the "
                                       "simulated bus ";
inline const std::string kSimulatedBusFile = "\\gpib-sim.dll.";
#else
inline const std::string kInstallAdvice = "Install linux-gpib, which provides libgpib.so.0.";
inline const std::string kDemoAdvice = "To try the panel without hardware, choose \"Start on the "
                                       "Simulated Bus\" in its menu entry, or run selvane-demo, "
                                       "which loads the simulated bus /";
inline const std::string kSimulatedBusFile = "/selvane/libgpib-sim.so.";
#endif

class SimDriver : public DriverLibrary
{
public:
    explicit SimDriver(const std::string &library = SELVANE_SIM_LIBRARY)
        : m_library(library)
    { }

    /** The driver lacks `name` from now on. */
    void hide(const std::string &name) { m_hidden.insert(name); }
    /** The driver's `name` is `function` from now on (for a binding that has not looked it up
        yet); `real` the simulated bus's own. */
    void replace(const std::string &name, void *function) { m_replaced[name] = function; }
    void *real(const std::string &name) { return m_library.entryPoint(name); }

    void *entryPoint(const std::string &name) override
    {
        if (m_hidden.count(name))
            throw BindingFailure::entryPointMissing(name, this->name());
        if (const auto it = m_replaced.find(name); it != m_replaced.end())
            return it->second;
        return m_library.entryPoint(name);
    }
    bool hasEntryPoint(const std::string &name) override
    {
        return m_library.hasEntryPoint(name) && !m_hidden.count(name);
    }
    std::string name() const override { return m_library.name(); }

    int descriptorsInUse()
    {
        return reinterpret_cast<int (*)()>(entryPoint("SimDescriptorsInUse"))();
    }
    /** Frees every descriptor the simulated driver holds. */
    void reset() { reinterpret_cast<void (*)()>(entryPoint("SimReset"))(); }

private:
    DynamicLibrary m_library;
    std::set<std::string> m_hidden;
    std::map<std::string, void *> m_replaced;
};

/** The calls in a trace file; the status queries of linux-gpib style are left out. */
inline std::vector<std::string> readTrace(const std::string &file)
{
    std::vector<std::string> calls;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        // {"call":"ibwrt","args":[32,2],"bytes":"4131","ret":0,"ibsta":8448,...}
        const auto field = [&line](const std::string &name, char end) {
            const std::size_t at = line.find(name);
            const std::size_t start = at == std::string::npos ? line.size() : at + name.size();
            return line.substr(start, line.find(end, start) - start);
        };
        const std::string call = field("\"call\":\"", '"');
        const std::string bytes = field("\"bytes\":\"", '"');
        if (call.rfind("Thread", 0) != 0)
            calls.push_back(call + "(" + field("\"args\":[", ']') + ")"
                            + (bytes.empty() ? "" : "=" + bytes)
                            + (std::stoi(field("\"ibsta\":", ',')) & 0x8000 ? " ERR" : ""));
    }
    return calls;
}

/** Runs a test step with the simulated bus set as given; faults are cleared at the end. */
struct SimSettings
{
    SimSettings(const char *devices, const std::string &trace, const char *faults = "")
    {
        setEnvironment("SELVANE_SIM_DEVICES", *devices ? devices : " "); // a blank: none
        setEnvironment("SELVANE_SIM_TRACE", trace.c_str());
        setEnvironment("SELVANE_SIM_FAULTS", faults);
        setEnvironment("SELVANE_SIM_DELAY_MS", "0");
    }
    ~SimSettings()
    {
        setEnvironment("SELVANE_SIM_FAULTS", nullptr);
        setEnvironment("SELVANE_SIM_TRACE", nullptr);
    }
    SimSettings(const SimSettings &) = delete;
    SimSettings &operator=(const SimSettings &) = delete;
};
