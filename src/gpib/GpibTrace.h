// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>

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
     * file that cannot be opened gives one warning on stderr and no trace.
     */
    static std::unique_ptr<GpibTrace> fromEnvironment();

    ~GpibTrace();
    GpibTrace(const GpibTrace &) = delete;
    GpibTrace &operator=(const GpibTrace &) = delete;

    /** `bytes`, of a write, are traced as lowercase hex. */
    void write(const char *call, std::initializer_list<long long> args, long long ret, int ibsta,
               int iberr, long long ibcntl, std::optional<std::string_view> bytes = std::nullopt);

private:
    explicit GpibTrace(std::FILE *file)
        : m_file(file)
    { }

    std::FILE *m_file;
};
