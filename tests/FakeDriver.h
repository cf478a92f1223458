// SPDX-License-Identifier: MIT
#pragma once

// A scripted in-process GPIB driver: it records every call, answers with the outcome a test
// queued for it (success otherwise), writes the registered status cells as a driver does, and
// can be told to lack any entry point or to fail to load.

#include "gpib/BindingFailure.h"
#include "gpib/DriverLibrary.h"
#include "gpib/GpibApi.h"

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

class FakeDriver : public DriverLibrary
{
public:
    struct Outcome
    {
        int ret = 0;
        int ibsta = gpib::kCmpl;
        int iberr = 0;
        std::int32_t ibcntl = 0;
    };

    static Outcome error(int code, int ret = -1)
    {
        return {ret, gpib::kErr | gpib::kCmpl, code, 0};
    }

    FakeDriver();
    ~FakeDriver() override;
    FakeDriver(const FakeDriver &) = delete;
    FakeDriver &operator=(const FakeDriver &) = delete;

    /** Queues the outcome of the next call of `call` ("ibdev", "ibwrt", ...). */
    void script(const std::string &call, Outcome outcome) { m_script[call].push_back(outcome); }
    /** Queues the result of the next RegisterGpibGlobalsForThread. */
    void scriptRegistration(int result) { m_registrations.push_back(result); }
    /** Leaves an entry point out (ThreadIbsta & co. are out unless `withThreadStatus`). */
    void remove(const std::string &name) { m_missing.insert(name); }
    /** Acts as linux-gpib: ThreadIbsta, ThreadIberr, ThreadIbcntl report each call. */
    void withThreadStatus() { m_threadStatus = true; }
    /** Makes loading the library throw this failure. */
    void failLoading(int number) { m_loadFailure = number; }

    /** Calls in order, as "name(arg,arg,...)"; ibwrt also with its bytes: "ibwrt(32,2)=XX". */
    std::vector<std::string> calls;
    int descriptorsOnline = 0;

    void *entryPoint(const std::string &name) override;
    bool hasEntryPoint(const std::string &name) override;
    std::string name() const override { return "fake-gpib.so"; }

    // Used by the C entry points.
    static FakeDriver *current;
    int answer(const std::string &call, const std::string &record);
    int registerCells(std::int32_t *ibsta, std::int32_t *iberr, std::int32_t *ibcnt,
                      std::int32_t *ibcntl);
    Outcome last;
    std::int32_t *cells[4] = {};

private:
    std::map<std::string, std::deque<Outcome>> m_script;
    std::deque<int> m_registrations;
    std::set<std::string> m_missing;
    bool m_threadStatus = false;
    int m_loadFailure = 0;
    int m_nextDescriptor = 32;
};
