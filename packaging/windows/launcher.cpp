// SPDX-License-Identifier: MIT
// The Start menu's launchers. selvane-demo.exe: the panel on the simulated GPIB bus installed
// beside it, with instruments at board 0, addresses 7 and 8 unless SELVANE_SIM_DEVICES lists
// others, and with the demo's own settings (SELVANE_DEMO=1: under HKEY_CURRENT_USER, never the
// bench's); what "SELVANE (simulated bus)" starts. selvane-prologix.exe (built with
// SELVANE_LAUNCH_PROLOGIX): the panel through the Prologix and AR488 adapters' driver beside
// it, on the bench's own settings; what "SELVANE (Prologix or AR488 adapter)" starts. A
// shortcut cannot set the environment, so this program sets it and starts selvane.exe with its
// own arguments (an instance name, -clean or -?). It is a GUI program, so no console window
// flashes, and it ends with the panel's exit status.
#include "app/CommandLine.h"

#include <windows.h>

#include <string>

namespace {

/** The folder this program was started from, with its final backslash. */
std::wstring ownFolder()
{
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), DWORD(path.size())));
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

/** The arguments as the panel reads them: its command line in the system's code page. */
std::wstring arguments()
{
    const std::string_view text = CommandLine::afterProgramName(GetCommandLineA());
    std::wstring wide(text.size(), L'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(),
                                           int(wide.size()));
    wide.resize(length > 0 ? std::size_t(length) : 0);
    return wide;
}

/** The system's words for an error code, without the final stop. */
std::wstring reason(DWORD error)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring words = text ? text : L"error " + std::to_wstring(error);
    LocalFree(text);
    while (!words.empty()
           && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L'.'))
        words.pop_back();
    return words;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::wstring folder = ownFolder();
#if defined(SELVANE_LAUNCH_PROLOGIX)
    SetEnvironmentVariableW(L"SELVANE_GPIB_LIBRARY", (folder + L"gpib-prologix.dll").c_str());
#else
    SetEnvironmentVariableW(L"SELVANE_GPIB_LIBRARY", (folder + L"gpib-sim.dll").c_str());
    SetEnvironmentVariableW(L"SELVANE_DEMO", L"1");
    if (GetEnvironmentVariableW(L"SELVANE_SIM_DEVICES", nullptr, 0) == 0
        && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        SetEnvironmentVariableW(L"SELVANE_SIM_DEVICES", L"0:7:0 0:8:0");
#endif

    const std::wstring program = folder + L"selvane.exe";
    std::wstring line = L"\"" + program + L"\"" + arguments();
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES; // a caller's redirections reach the panel
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION panel {};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &panel)) {
        const std::wstring text = L"Cannot start " + program + L": " + reason(GetLastError());
        MessageBoxW(nullptr, text.c_str(), L"SELVANE", MB_OK | MB_ICONERROR);
        return 1;
    }
    CloseHandle(panel.hThread);
    WaitForSingleObject(panel.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(panel.hProcess, &status);
    CloseHandle(panel.hProcess);
    return int(status);
}
