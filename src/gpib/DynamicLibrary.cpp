// SPDX-License-Identifier: MIT
#include "DynamicLibrary.h"

#include "BindingFailure.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#endif

DynamicLibrary::DynamicLibrary(std::string name)
    : m_name(std::move(name))
{ }

DynamicLibrary::~DynamicLibrary()
{
    // The library stays loaded to the end: the driver keeps the status cells' addresses.
}

std::string DynamicLibrary::defaultName()
{
    if (const char *name = std::getenv("SELVANE_GPIB_LIBRARY"); name && *name)
        return name;
#if defined(_WIN64)
    return "ni4882.dll"; // NI's 64-bit DLL: a process loads only DLLs of its own bitness
#elif defined(_WIN32)
    return "Gpib-32.dll";
#else
    return "libgpib.so.0";
#endif
}

void DynamicLibrary::load()
{
    if (m_handle)
        return;
#if defined(_WIN32)
    m_handle = reinterpret_cast<void *>(LoadLibraryA(m_name.c_str()));
    if (!m_handle) {
        const DWORD error = GetLastError();
        char words[512] = {};
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, words, sizeof words, nullptr);
        std::string reason(words, length);
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
            reason.pop_back();
        if (error == ERROR_MOD_NOT_FOUND)
            throw BindingFailure::fileNotFound(m_name, reason);
        throw BindingFailure::cannotLoad(m_name, reason);
    }
#else
    // RTLD_NOW: a lazy load would defer a missing symbol to the first call into the driver.
    m_handle = ::dlopen(m_name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle)
        return;
    const char *error = ::dlerror();
    const std::string text = error ? error : "";
    bool missing = false;
    if (m_name.find('/') != std::string::npos) {
        struct stat info
        {
        };
        missing = ::stat(m_name.c_str(), &info) != 0;
    } else {
        // A bare name is searched for; the error names the library itself only when it was
        // not found (a broken dependency names the dependency, a bad file its full path).
        missing = text.compare(0, m_name.size() + 1, m_name + ":") == 0;
    }
    if (missing)
        throw BindingFailure::fileNotFound(m_name, text);
    throw BindingFailure::cannotLoad(m_name, text);
#endif
}

void *DynamicLibrary::entryPoint(const std::string &name)
{
    load();
#if defined(_WIN32)
    void *address =
        reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(m_handle), name.c_str()));
#else
    void *address = ::dlsym(m_handle, name.c_str());
#endif
    if (!address)
        throw BindingFailure::entryPointMissing(name, m_name);
    return address;
}

bool DynamicLibrary::hasEntryPoint(const std::string &name)
{
    load();
#if defined(_WIN32)
    return GetProcAddress(static_cast<HMODULE>(m_handle), name.c_str()) != nullptr;
#else
    return ::dlsym(m_handle, name.c_str()) != nullptr;
#endif
}
