// SPDX-License-Identifier: MIT
#include "SimBus.h"

#include "gpib/GpibApi.h"
#include "gpib/TraceLine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

std::string environment(const char *name, const char *fallback)
{
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string(fallback);
}

/** The items of a list separated by commas or white space (a file from Windows ends its
    lines with CR). */
std::vector<std::string> items(const std::string &text)
{
    static constexpr const char *kSeparators = ", \t\n\r\v\f";
    std::vector<std::string> all;
    for (auto begin = text.find_first_not_of(kSeparators); begin != std::string::npos;) {
        const auto end = text.find_first_of(kSeparators, begin);
        all.push_back(text.substr(begin, end - begin));
        begin = text.find_first_not_of(kSeparators, end);
    }
    return all;
}

/** The driver's timeout table in milliseconds (code 12: 3 s); 0 waits for ever. */
long timeoutMs(int code)
{
    static constexpr double kTable[] = {0,    0.01,  0.03,  0.1,    0.3,    1,
                                        3,    10,    30,    100,    300,    1000,
                                        3000, 10000, 30000, 100000, 300000, 1000000};
    if (code < 0 || code >= static_cast<int>(std::size(kTable)))
        return 0;
    return static_cast<long>(kTable[code]);
}

bool validTimeout(int code)
{
    return code >= 0 && code <= 17;
}

} // namespace

SimBus &SimBus::instance()
{
    static SimBus bus;
    return bus;
}

SimBus::Status SimBus::fail(int error, int extra)
{
    return {-1, gpib::kErr | gpib::kCmpl | extra, error, 0};
}

SimBus::Status SimBus::done(int ret, long count)
{
    return {ret, gpib::kCmpl, 0, count};
}

void SimBus::readEnvironment()
{
    const std::string devices = environment("SELVANE_SIM_DEVICES", "0:7:0");
    if (devices != m_devicesText) {
        m_devicesText = devices;
        m_present.clear();
        m_boards = {0};
        for (const std::string &item : items(devices)) {
            int board = 0;
            int pad = 0;
            int sad = 0;
            char rest = 0;
            if (std::sscanf(item.c_str(), "%d:%d:%d%c", &board, &pad, &sad, &rest) == 3) {
                m_present.insert({board, pad, sad});
                m_boards.insert(board);
            } else {
                std::fprintf(stderr, "gpib-sim: ignoring device '%s' (board:pad:sad)\n",
                             item.c_str());
            }
        }
    }
    m_delayMs = std::strtol(environment("SELVANE_SIM_DELAY_MS", "0").c_str(), nullptr, 10);
    if (m_delayMs < 0)
        m_delayMs = 0;
    const std::string faults = environment("SELVANE_SIM_FAULTS", "");
    if (faults != m_faultsText) {
        m_faultsText = faults;
        m_faults.clear();
        m_callCounts.clear();
        for (const std::string &item : items(faults)) {
            const std::size_t equals = item.find('=');
            const std::size_t step = item.find('#');
            Fault fault {item.substr(0, std::min(equals, step))};
            char rest = 0;
            const char *value = item.c_str() + equals + 1;
            int digits = 0;
            const bool valueOk =
                equals != std::string::npos
                && std::sscanf(value, "%d%n", &fault.value, &digits) == 1
                && (value[digits] == '\0'
                    || (value[digits] == ':'
                        && std::sscanf(value + digits + 1, "%ld%c", &fault.count, &rest) == 1));
            const bool stepOk =
                step == std::string::npos
                || (std::sscanf(item.c_str() + step + 1, "%d%c", &fault.step, &rest) == 2
                    && rest == '=' && fault.step > 0);
            if (valueOk && stepOk && !fault.call.empty())
                m_faults.push_back(fault);
            else
                std::fprintf(stderr, "gpib-sim: ignoring fault '%s' (call#n=value)\n",
                             item.c_str());
        }
    }
}

std::optional<SimBus::Status> SimBus::fault(const std::string &call)
{
    std::lock_guard lock(m_mutex);
    readEnvironment();
    const int count = ++m_callCounts[call];
    for (const Fault &fault : m_faults) {
        if (fault.call == call && (fault.step == 0 || fault.step == count)) {
            Status failed = fail(fault.value);
            failed.ibcntl = fault.count;
            return failed;
        }
    }
    return std::nullopt;
}

bool SimBus::spendTime(int timeoutCode)
{
    const long limit = timeoutMs(timeoutCode);
    const bool timesOut = limit > 0 && m_delayMs > limit;
    const long wait = timesOut ? limit : m_delayMs;
    if (wait > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    return !timesOut;
}

bool SimBus::present(const Address &address) const
{
    return m_present.count(address) != 0;
}

bool SimBus::boardExists(int board) const
{
    return m_boards.count(board) != 0;
}

SimBus::Device *SimBus::device(int ud)
{
    const auto it = m_devices.find(ud);
    return it == m_devices.end() ? nullptr : &it->second;
}

SimBus::Status SimBus::ibconfig(int ud, int option, int value)
{
    std::lock_guard lock(m_mutex);
    readEnvironment();
    if (const auto error = fault("ibconfig"))
        return *error;
    spendTime(0);
    if (Device *dev = device(ud)) {
        if (option == 3) { // IbcTMO
            if (!validTimeout(value))
                return fail(gpib::kEarg);
            dev->timeout = value;
        }
        return done(0);
    }
    if (ud < 0 || ud >= kBoards)
        return fail(gpib::kEdvr);
    if (!boardExists(ud))
        return fail(gpib::kEneb);
    return done(option == gpib::kOptionSendLlo ? value : 0);
}

SimBus::Status SimBus::ibdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    std::lock_guard lock(m_mutex);
    readEnvironment();
    if (const auto error = fault("ibdev"))
        return *error;
    spendTime(0);
    if (board < 0 || board >= kBoards || !boardExists(board))
        return fail(gpib::kEneb);
    if (pad < 0 || pad > 30 || (sad != 0 && (sad < 96 || sad > 126)) || !validTimeout(tmo)
        || (eot != 0 && eot != 1) || eos < 0 || eos > 0xFFFF)
        return fail(gpib::kEarg);
    for (int ud = kFirstDescriptor; ud < kFirstDescriptor + kDescriptors; ++ud) {
        if (!m_devices.count(ud)) {
            m_devices[ud] = Device {{board, pad, sad}, tmo};
            Status status = done(ud);
            return status;
        }
    }
    return fail(gpib::kEdvr);
}

SimBus::Status SimBus::ibclr(int ud)
{
    std::lock_guard lock(m_mutex);
    readEnvironment();
    if (const auto error = fault("ibclr"))
        return *error;
    Device *dev = device(ud);
    if (!dev)
        return fail(gpib::kEdvr);
    if (!spendTime(dev->timeout))
        return fail(gpib::kEabo, gpib::kTimo);
    if (!present(dev->address))
        return fail(gpib::kEnol);
    return done(0);
}

SimBus::Status SimBus::ibwrt(int ud, const void *buffer, long count)
{
    std::lock_guard lock(m_mutex);
    readEnvironment();
    if (const auto error = fault("ibwrt"))
        return *error;
    Device *dev = device(ud);
    if (!dev)
        return fail(gpib::kEdvr);
    if (count < 0 || (count > 0 && !buffer))
        return fail(gpib::kEarg);
    if (!spendTime(dev->timeout))
        return fail(gpib::kEabo, gpib::kTimo);
    if (!present(dev->address))
        return fail(gpib::kEnol);
    const auto *bytes = static_cast<const unsigned char *>(buffer);
    if (count == 2 && (bytes[0] == 'A' || bytes[0] == 'B') && bytes[1] >= '1' && bytes[1] <= '4') {
        const int section = bytes[0] - 'A';
        const int position = bytes[1] - '0';
        int &current = m_positions[dev->address][section];
        if (current != position) {
            current = position;
            const auto [board, pad, sad] = dev->address;
            std::fprintf(stderr, "gpib-sim: %d:%d:%d %c -> %d\n", board, pad, sad, bytes[0],
                         position);
        }
    }
    Status status = done(0, count);
    status.ibsta |= gpib::kEnd;
    return status;
}

SimBus::Status SimBus::ibloc(int ud)
{
    std::lock_guard lock(m_mutex);
    readEnvironment();
    if (const auto error = fault("ibloc"))
        return *error;
    if (Device *dev = device(ud)) {
        if (!spendTime(dev->timeout))
            return fail(gpib::kEabo, gpib::kTimo);
        return done(0);
    }
    spendTime(0);
    if (ud >= 0 && ud < kBoards && boardExists(ud))
        return done(0);
    return fail(gpib::kEdvr);
}

SimBus::Status SimBus::ibonl(int ud, int value)
{
    std::lock_guard lock(m_mutex);
    readEnvironment();
    if (const auto error = fault("ibonl"))
        return *error;
    spendTime(0);
    if (value != 0 && value != 1)
        return fail(gpib::kEarg);
    if (device(ud)) {
        if (value == 0)
            m_devices.erase(ud);
        return done(0);
    }
    if (ud >= 0 && ud < kBoards && boardExists(ud))
        return done(0);
    return fail(gpib::kEdvr);
}

SimBus::Status SimBus::ibln(int ud, int pad, int sad, short *listen)
{
    std::lock_guard lock(m_mutex);
    readEnvironment();
    if (const auto error = fault("ibln"))
        return *error;
    spendTime(0);
    int board = ud;
    if (const Device *dev = device(ud))
        board = std::get<0>(dev->address);
    else if (ud < 0 || ud >= kBoards)
        return fail(gpib::kEdvr);
    if (!boardExists(board))
        return fail(gpib::kEneb);
    if (pad < 0 || pad > 30 || (sad != 0 && sad != -1 && (sad < 96 || sad > 126)) || !listen)
        return fail(gpib::kEarg);
    *listen = 0;
    for (const auto &[atBoard, atPad, atSad] : m_present) {
        if (atBoard == board && atPad == pad && (atSad == sad || sad == -1))
            *listen = 1;
    }
    return done(0);
}

int SimBus::descriptorsInUse()
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_devices.size());
}

void SimBus::reset()
{
    std::lock_guard lock(m_mutex);
    m_devices.clear();
    m_callCounts.clear(); // a fault at the n-th call counts from here
}

void SimBus::trace(const char *call, std::initializer_list<long long> args, const Status &status,
                   std::optional<std::string_view> bytes)
{
    const std::string path = environment("SELVANE_SIM_TRACE", "");
    if (path.empty())
        return;
    const std::string line =
        gpib::traceFields(call, args, status.ret, status.ibsta, status.iberr, status.ibcntl, bytes)
        + "}\n";
    std::lock_guard lock(m_mutex);
    if (std::FILE *file = std::fopen(path.c_str(), "a")) {
        std::fputs(line.c_str(), file);
        std::fclose(file);
    }
}
