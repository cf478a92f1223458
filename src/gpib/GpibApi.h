// SPDX-License-Identifier: MIT
#pragma once

// The driver's C interface as this system calls it, declared here so that no vendor header
// is needed to build. Gpib-32.dll (NI-488.2) and libgpib.so.0 (linux-gpib) share it; on
// 32-bit Windows the functions are __stdcall with undecorated names.

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#if defined(_WIN32) && !defined(_WIN64)
#define SELVANE_GPIB_CALL __stdcall
#else
#define SELVANE_GPIB_CALL
#endif

namespace gpib {

// Status word bits.
inline constexpr int kErr = 0x8000;
inline constexpr int kTimo = 0x4000;
inline constexpr int kEnd = 0x2000;
inline constexpr int kCmpl = 0x0100;

// Error codes.
inline constexpr int kEdvr = 0; ///< bad descriptor, or no descriptor free
inline constexpr int kEcic = 1;
inline constexpr int kEnol = 2; ///< no listener
inline constexpr int kEadr = 3;
inline constexpr int kEarg = 4; ///< invalid argument
inline constexpr int kEabo = 6; ///< aborted: timeout
inline constexpr int kEneb = 7; ///< no such board
inline constexpr int kEcap = 11; ///< the board cannot do that: an adapter that finds no listeners

/** The driver's name of an error code ("EDVR"), or "error N" for a code it does not name. */
inline std::string errorName(int iberr)
{
    static constexpr const char *kNames[] = {
        "EDVR", "ECIC", "ENOL", "EADR",  "EARG",  "ESAC",  "EABO", "ENEB",  "EDMA",  nullptr,
        "EOIP", "ECAP", "EFSO", nullptr, "EBUS",  "ESTB",  "ESRQ", nullptr, nullptr, nullptr,
        "ETAB", "ELCK", "EARM", "EHDL",  nullptr, nullptr, "EWIP", "ERST",  "EPWR"};
    if (iberr >= 0 && iberr < static_cast<int>(std::size(kNames)) && kNames[iberr])
        return kNames[iberr];
    return "error " + std::to_string(iberr);
}

/** The words for a POSIX error number as glibc has them: the Windows C runtime has none for
    the network's (ETIMEDOUT, ECONNREFUSED, ...), which gpib-prologix reports there too. */
inline std::string systemReason(int error)
{
#if defined(_WIN32)
    switch (error) {
    case ETIMEDOUT:
        return "Connection timed out";
    case ECONNREFUSED:
        return "Connection refused";
    case ECONNRESET:
        return "Connection reset by peer";
    case EHOSTUNREACH:
        return "No route to host";
    case ENETUNREACH:
        return "Network is unreachable";
    case EADDRNOTAVAIL:
        return "Cannot assign requested address";
    case EAFNOSUPPORT:
        return "Address family not supported by protocol";
    case ENOBUFS:
        return "No buffer space available";
    default:
        break;
    }
#endif
    return std::strerror(error);
}

/** The driver's error, with the system's reason where the driver carries one: linux-gpib
    gives the errno of a failed EDVR in ibcntl ("EDVR (No such file or directory)"). */
inline std::string errorWithReason(int iberr, long ibcntl)
{
#if defined(_WIN32)
    (void)ibcntl; // NI's own code there, not the system's
#else
    if (iberr == kEdvr && ibcntl > 0)
        return errorName(iberr) + " (" + systemReason(static_cast<int>(ibcntl)) + ")";
#endif
    return errorName(iberr);
}

/** What a driver's error means for the operator, in words ("no instrument answered"). */
inline std::string errorMeaning(int iberr)
{
    switch (iberr) {
    case kEdvr:
        return "the driver cannot use the board";
    case kEcic:
        return "the board is not in charge of the bus";
    case kEnol:
        return "no instrument answered";
    case kEadr:
        return "the instrument could not be addressed";
    case kEarg:
        return "the driver refused the address";
    case kEabo:
        return "the instrument did not answer in time";
    case kEneb:
        return "there is no such board";
    default:
        return "the driver refused";
    }
}

/** What usually mends the driver's refusal, where one mend is usual; else empty. linux-gpib
    gives EACCES when this user may not open the board's device file. */
inline std::string remedy(int iberr, long ibcntl, int board)
{
#if defined(_WIN32)
    (void)iberr, (void)ibcntl, (void)board;
#else
    if (iberr == kEdvr && ibcntl == EACCES)
        return "this user usually needs to join the group that owns /dev/gpib"
               + std::to_string(board) + " (see ls -l /dev/gpib" + std::to_string(board)
               + "), then log in again";
#endif
    return {};
}

inline constexpr int kOptionSendLlo = 23; ///< ibconfig option: send Local Lockout
inline constexpr int kTimeout3s = 12; ///< timeout code of 3 seconds

using IbConfig = int(SELVANE_GPIB_CALL *)(int ud, int option, int value);
using IbDev = int(SELVANE_GPIB_CALL *)(int board, int pad, int sad, int tmo, int eot, int eos);
using IbClr = int(SELVANE_GPIB_CALL *)(int ud);
using IbWrt = int(SELVANE_GPIB_CALL *)(int ud, const void *buffer, long count);
using IbLoc = int(SELVANE_GPIB_CALL *)(int ud);
using IbOnl = int(SELVANE_GPIB_CALL *)(int ud, int value);
using IbLn = int(SELVANE_GPIB_CALL *)(int ud, int pad, int sad, short *listen);
using RegisterGlobals = int(SELVANE_GPIB_CALL *)(std::int32_t *ibsta, std::int32_t *iberr,
                                                 std::int32_t *ibcnt, std::int32_t *ibcntl);
using UnregisterGlobals = int(SELVANE_GPIB_CALL *)();
using ThreadInt = int(SELVANE_GPIB_CALL *)();
using ThreadLong = long(SELVANE_GPIB_CALL *)();

} // namespace gpib
