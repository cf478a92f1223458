// SPDX-License-Identifier: MIT
#include "Adapter.h"

#include "gpib/GpibApi.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>

namespace {

using namespace std::chrono_literals;

/** The adapter's own characters in data: each is sent after an ESC. */
bool special(char c)
{
    return c == '\r' || c == '\n' || c == '\x1b' || c == '+';
}

bool containsNoCase(std::string_view text, std::string_view word)
{
    return std::search(text.begin(), text.end(), word.begin(), word.end(),
                       [](char a, char b) {
                           return std::tolower(static_cast<unsigned char>(a))
                                  == std::tolower(static_cast<unsigned char>(b));
                       })
           != text.end();
}

/** The entries of a ++fndl answer ("3,5:1,22"), or nullopt when it is no such list (an
    older AR488 answers "Unrecognized command"). */
std::optional<std::vector<std::string>> listeners(const std::vector<std::string> &lines)
{
    std::vector<std::string> entries;
    for (const std::string &line : lines) {
        if (line.find_first_not_of("0123456789:, \t") != std::string::npos)
            return std::nullopt;
        for (auto begin = line.find_first_not_of(", \t"); begin != std::string::npos;) {
            const auto end = line.find_first_of(", \t", begin);
            entries.push_back(line.substr(begin, end - begin));
            begin = line.find_first_not_of(", \t", end);
        }
    }
    return entries;
}

/** Whether a listener entry stands for `pad` with `sad` (0: none, -1: any). An instrument
    that answers at its primary address is counted at each of its secondaries too, and a
    secondary is recognised in either of its forms (1 or 97), so that none is missed. */
bool matches(const std::string &entry, int pad, int sad)
{
    const std::string primary = std::to_string(pad);
    if (entry == primary)
        return true;
    if (!entry.starts_with(primary + ':'))
        return false;
    const std::string secondary = entry.substr(primary.size() + 1);
    return sad == -1
           || (sad != 0
               && (secondary == std::to_string(sad) || secondary == std::to_string(sad - 96)));
}

} // namespace

Adapter::Adapter(std::unique_ptr<AdapterLink> link)
    : m_link(std::move(link))
{ }

std::unique_ptr<Adapter> Adapter::open(const std::string &where, int &error, std::string &why)
{
    const auto start = Clock::now();
    const auto last = start + 3s; // the device timeout
    auto link = AdapterLink::open(where, last, error);
    if (!link) {
        why = "cannot be opened: " + gpib::systemReason(error);
        return nullptr;
    }
    std::unique_ptr<Adapter> adapter(new Adapter(std::move(link)));
    adapter->m_where = where;
    AdapterLink &port = *adapter->m_link;
    const auto ask = [&](Clock::time_point until) -> std::optional<std::string> {
        if (!port.drain() || !port.send("++ver\n", until))
            return std::nullopt;
        for (auto line = port.readLine(until); line; line = port.readLine(until)) {
            if (!line->empty())
                return line;
        }
        return std::nullopt;
    };
    auto version = ask(start + 2s);
    // An Arduino restarts when its port is first opened and misses what came meanwhile.
    if (!version && !port.error() && port.serial())
        version = ask(last);
    if (!version) {
        error = port.error() ? port.error() : ETIMEDOUT;
        why = port.error() ? "stopped answering: " + gpib::systemReason(error)
                           : "did not answer ++ver in time";
        return nullptr;
    }
    adapter->m_version = *version;
    adapter->m_prologix = containsNoCase(*version, "prologix");
    adapter->m_findsListeners = adapter->m_prologix ? std::optional(false) : std::nullopt;
    // Controller mode, no read after write, EOI with the last byte, nothing appended. On a
    // Prologix, ++savecfg 0 first, so that none of this is written to its memory; on an
    // AR488 ++savecfg takes no argument and writes its memory, so it is never sent there.
    const std::string setup = std::string(adapter->m_prologix ? "++savecfg 0\n" : "")
                              + "++mode 1\n++auto 0\n++eoi 1\n++eos 3\n";
    if (!port.send(setup, last)) {
        error = port.error();
        why = "stopped answering: " + gpib::systemReason(error);
        return nullptr;
    }
    return adapter;
}

std::string Adapter::addressing(int pad, int sad)
{
    if (m_address == std::pair(pad, sad))
        return {};
    m_address = {pad, sad};
    return "++addr " + std::to_string(pad) + (sad ? ' ' + std::to_string(sad) : "") + '\n';
}

// Whether a listener is present. The adapters acknowledge no write, and a serial poll
// (++spoll) reaches only instruments that can talk: a listen-only switch never answers one,
// so a poll's silence proves nothing. The AR488's ++fndl runs the bus's find-listeners
// protocol (ATN, then each address as listener, then NDAC), which a listen-only instrument
// answers: there an absent instrument is reported absent. The Prologix has no such command,
// nor has an AR488 that answers "Unrecognized command": there nothing is ever reported
// absent, since a present switch must never look absent.
Adapter::Result Adapter::findListener(int pad, int sad, bool &listening, Clock::time_point deadline)
{
    listening = false;
    if (m_findsListeners == false)
        return Result::CannotTell;
    if (!m_link->drain())
        return Result::Lost;
    // ++ver after it marks the end of the answer, which may be empty or absent.
    if (!m_link->send("++fndl " + std::to_string(pad) + "\n++ver\n", deadline))
        return failed();
    std::vector<std::string> lines;
    for (;;) {
        const auto line = m_link->readLine(deadline);
        if (!line)
            return failed();
        if (line->ends_with(m_version)) // after a prompt, when the AR488 is verbose
            break;
        if (!line->empty())
            lines.push_back(*line);
        if (lines.size() > 64)
            return Result::CannotTell; // not the answer of a find-listeners
    }
    const auto entries = listeners(lines);
    m_findsListeners = entries.has_value();
    if (!entries)
        return Result::CannotTell;
    listening = std::any_of(entries->begin(), entries->end(),
                            [&](const std::string &entry) { return matches(entry, pad, sad); });
    return Result::Done;
}

Adapter::Result Adapter::presence(int pad, int sad, Clock::time_point deadline)
{
    bool listening = false;
    const Result found = findListener(pad, sad, listening, deadline);
    if (found == Result::CannotTell)
        return Result::Done;
    if (found != Result::Done)
        return found;
    return listening ? Result::Done : Result::Absent;
}

Adapter::Result Adapter::clear(int pad, int sad, Clock::time_point deadline)
{
    if (!m_link->drain())
        return Result::Lost;
    if (const Result present = presence(pad, sad, deadline); present != Result::Done)
        return present;
    return m_link->send(addressing(pad, sad) + "++clr\n", deadline) ? Result::Done : failed();
}

Adapter::Result Adapter::write(int pad, int sad, std::string_view data, bool eoi,
                               Clock::time_point deadline)
{
    if (!m_link->drain())
        return Result::Lost;
    if (const Result present = presence(pad, sad, deadline); present != Result::Done)
        return present;
    if (data.empty())
        return Result::Done; // nothing to put on the bus
    std::string out = addressing(pad, sad);
    if (eoi != m_eoi) {
        out += eoi ? "++eoi 1\n" : "++eoi 0\n";
        m_eoi = eoi;
    }
    for (const char c : data) {
        if (special(c))
            out += '\x1b';
        out += c;
    }
    out += '\n'; // ends the line for the adapter; with ++eos 3 nothing reaches the instrument
    return m_link->send(out, deadline) ? Result::Done : failed();
}

Adapter::Result Adapter::goLocal(int pad, int sad, Clock::time_point deadline)
{
    if (!m_link->drain())
        return Result::Lost;
    return m_link->send(addressing(pad, sad) + "++loc\n", deadline) ? Result::Done : failed();
}
