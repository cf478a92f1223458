// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

/**
 * One JSON line per driver call, in the simulated bus's trace format (call, args, bytes of a
 * write, ret, ibsta, iberr, ibcntl) with the call's UTC time added as "time": one reader
 * serves both. Each line is flushed as it is written, so a crash loses none.
 */
class GpibTrace
{
public:
    /**
     * The trace `SELVANE_GPIB_TRACE` names, appended to; null when it is unset or empty. A
     * file that cannot be opened, a FIFO that nobody reads included, gives one warning on
     * stderr and no trace: it never waits. The first write that fails gives one warning, and
     * the trace stops there.
     */
    static std::unique_ptr<GpibTrace> fromEnvironment();

    ~GpibTrace();
    GpibTrace(const GpibTrace &) = delete;
    GpibTrace &operator=(const GpibTrace &) = delete;

    /** `bytes`, of a write, are traced as lowercase hex. */
    void write(const char *call, std::initializer_list<long long> args, long long ret, int ibsta,
               int iberr, long long ibcntl, std::optional<std::string_view> bytes = std::nullopt);

private:
    GpibTrace(std::FILE *file, std::string path)
        : m_file(file)
        , m_path(std::move(path))
    { }

    std::FILE *m_file; ///< null once a write failed
    std::string m_path;
};
