// SPDX-License-Identifier: MIT
#include "FakeDriver.h"

#include <map>

FakeDriver *FakeDriver::current = nullptr;

namespace {

std::string record(const char *name, std::initializer_list<long> args)
{
    std::string text = std::string(name) + "(";
    bool first = true;
    for (const long arg : args) {
        text += (first ? "" : ",") + std::to_string(arg);
        first = false;
    }
    return text + ")";
}

extern "C" {
int SELVANE_GPIB_CALL fakeIbconfig(int ud, int option, int value)
{
    return FakeDriver::current->answer("ibconfig", record("ibconfig", {ud, option, value}));
}
int SELVANE_GPIB_CALL fakeIbdev(int board, int pad, int sad, int tmo, int eot, int eos)
{
    return FakeDriver::current->answer("ibdev", record("ibdev", {board, pad, sad, tmo, eot, eos}));
}
int SELVANE_GPIB_CALL fakeIbclr(int ud)
{
    return FakeDriver::current->answer("ibclr", record("ibclr", {ud}));
}
int SELVANE_GPIB_CALL fakeIbwrt(int ud, const void *buffer, long count)
{
    return FakeDriver::current->answer("ibwrt", record("ibwrt", {ud, count}) + "="
                                                    + std::string(static_cast<const char *>(buffer),
                                                                  static_cast<std::size_t>(count)));
}
int SELVANE_GPIB_CALL fakeIbloc(int ud)
{
    return FakeDriver::current->answer("ibloc", record("ibloc", {ud}));
}
int SELVANE_GPIB_CALL fakeIbonl(int ud, int value)
{
    return FakeDriver::current->answer("ibonl", record("ibonl", {ud, value}));
}
int SELVANE_GPIB_CALL fakeRegister(std::int32_t *ibsta, std::int32_t *iberr, std::int32_t *ibcnt,
                                   std::int32_t *ibcntl)
{
    return FakeDriver::current->registerCells(ibsta, iberr, ibcnt, ibcntl);
}
int SELVANE_GPIB_CALL fakeUnregister()
{
    FakeDriver::current->calls.push_back("Unregister");
    for (std::int32_t *&cell : FakeDriver::current->cells)
        cell = nullptr;
    return 0;
}
int SELVANE_GPIB_CALL fakeThreadIbsta()
{
    return FakeDriver::current->last.ibsta;
}
int SELVANE_GPIB_CALL fakeThreadIberr()
{
    return FakeDriver::current->last.iberr;
}
long SELVANE_GPIB_CALL fakeThreadIbcntl()
{
    return FakeDriver::current->last.ibcntl;
}
}

const std::map<std::string, void *> &entryPoints()
{
    static const std::map<std::string, void *> points {
        {"ibconfig", reinterpret_cast<void *>(&fakeIbconfig)},
        {"ibdev", reinterpret_cast<void *>(&fakeIbdev)},
        {"ibclr", reinterpret_cast<void *>(&fakeIbclr)},
        {"ibwrt", reinterpret_cast<void *>(&fakeIbwrt)},
        {"ibloc", reinterpret_cast<void *>(&fakeIbloc)},
        {"ibonl", reinterpret_cast<void *>(&fakeIbonl)},
        {"RegisterGpibGlobalsForThread", reinterpret_cast<void *>(&fakeRegister)},
        {"UnregisterGpibGlobalsForThread", reinterpret_cast<void *>(&fakeUnregister)},
        {"ThreadIbsta", reinterpret_cast<void *>(&fakeThreadIbsta)},
        {"ThreadIberr", reinterpret_cast<void *>(&fakeThreadIberr)},
        {"ThreadIbcntl", reinterpret_cast<void *>(&fakeThreadIbcntl)},
    };
    return points;
}

} // namespace

FakeDriver::FakeDriver()
{
    current = this;
}

FakeDriver::~FakeDriver()
{
    current = nullptr;
}

bool FakeDriver::hasEntryPoint(const std::string &name)
{
    if (m_loadFailure)
        throw BindingFailure(m_loadFailure, "cannot load " + this->name());
    const bool thread = name.rfind("Thread", 0) == 0;
    if (thread && !m_threadStatus)
        return false;
    return entryPoints().count(name) && !m_missing.count(name);
}

void *FakeDriver::entryPoint(const std::string &name)
{
    if (!hasEntryPoint(name))
        throw BindingFailure::entryPointMissing(name, this->name());
    return entryPoints().at(name);
}

int FakeDriver::answer(const std::string &call, const std::string &text)
{
    calls.push_back(text);
    Outcome outcome;
    if (auto it = m_script.find(call); it != m_script.end() && !it->second.empty()) {
        outcome = it->second.front();
        it->second.pop_front();
    } else if (call == "ibdev") {
        outcome.ret = m_nextDescriptor++;
    } else if (call == "ibwrt") {
        outcome.ibcntl = 2;
    }
    if (call == "ibdev" && outcome.ret > 0 && !(outcome.ibsta & gpib::kErr))
        ++descriptorsOnline;
    if (call == "ibonl" && text.size() > 2 && text.substr(text.size() - 3) == ",0)")
        --descriptorsOnline;
    last = outcome;
    if (cells[0]) {
        *cells[0] = outcome.ibsta;
        *cells[1] = outcome.iberr;
        *cells[2] = outcome.ibcntl;
        *cells[3] = outcome.ibcntl;
    }
    return outcome.ret;
}

int FakeDriver::registerCells(std::int32_t *ibsta, std::int32_t *iberr, std::int32_t *ibcnt,
                              std::int32_t *ibcntl)
{
    calls.push_back("Register");
    int result = 0;
    if (!m_registrations.empty()) {
        result = m_registrations.front();
        m_registrations.pop_front();
    }
    if (result == 0 || result == 1) {
        cells[0] = ibsta;
        cells[1] = iberr;
        cells[2] = ibcnt;
        cells[3] = ibcntl;
    }
    return result;
}
