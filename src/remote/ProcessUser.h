// SPDX-License-Identifier: MIT
#pragma once
// Who a Windows process runs as: the one user who may open the scripts' pipe, and who must
// serve it for a script to talk to it.

#if defined(_WIN32)
#include <windows.h>

#include <vector>

/** The TOKEN_USER of `process`'s token; empty, with the system's code in `error`, when the
    token cannot be read. */
inline std::vector<char> processUser(HANDLE process, DWORD *error)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
        *error = GetLastError();
        return {};
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> user(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
        *error = GetLastError();
        user.clear();
    }
    CloseHandle(token);
    return user;
}

/** The SID inside a non-empty result of processUser(). */
inline PSID userSid(std::vector<char> &user)
{
    return reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
}
#endif
