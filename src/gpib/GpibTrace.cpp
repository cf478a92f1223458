// SPDX-License-Identifier: MIT
#include "GpibTrace.h"

#include "TraceLine.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

/** The time now, as "2026-12-07T10:42:33.123456Z". */
std::string utcNow()
{
    using namespace std::chrono;
    const auto micros = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    std::tm utc {};
#if defined(_WIN32)
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%06dZ",
                  static_cast<int>(micros % 1000000));
    return text;
}

} // namespace

std::unique_ptr<GpibTrace> GpibTrace::fromEnvironment()
{
    const char *path = std::getenv("SELVANE_GPIB_TRACE");
    if (!path || !*path)
        return nullptr;
    std::FILE *file = std::fopen(path, "a");
    if (!file) {
        std::fprintf(stderr, "SELVANE_GPIB_TRACE: cannot write to %s (%s); no driver trace\n", path,
                     std::strerror(errno));
        return nullptr;
    }
    return std::unique_ptr<GpibTrace>(new GpibTrace(file));
}

GpibTrace::~GpibTrace()
{
    std::fclose(m_file);
}

void GpibTrace::write(const char *call, std::initializer_list<long long> args, long long ret,
                      int ibsta, int iberr, long long ibcntl, std::optional<std::string_view> bytes)
{
    const std::string line = gpib::traceFields(call, args, ret, ibsta, iberr, ibcntl, bytes)
                             + ",\"time\":\"" + utcNow() + "\"}\n";
    // One write per line: copies that share the file do not interleave within a line.
    std::fputs(line.c_str(), m_file);
    std::fflush(m_file);
}
