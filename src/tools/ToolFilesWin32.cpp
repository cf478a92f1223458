// SPDX-License-Identifier: MIT
#include "TemporaryFile.h"
#include "ToolFiles.h"

#include "settings/Win32Registry.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <windows.h>

namespace ToolFiles {

using namespace detail;

namespace {

std::string windowsReason(DWORD error)
{
    const std::string words = Win32Registry::systemWords(static_cast<long>(error));
    return words.empty() ? std::string("a failure the system does not name") : words;
}

bool writeAll(HANDLE file, std::string_view bytes)
{
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

std::string replace(const std::string &path, std::string_view bytes)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return path + " is a directory: not replaced";
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A console or NUL is written as it is; only a file on disk is replaced.
        const HANDLE existing =
            CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (existing != INVALID_HANDLE_VALUE && GetFileType(existing) != FILE_TYPE_DISK) {
            const bool written = writeAll(existing, bytes);
            const DWORD error = GetLastError();
            CloseHandle(existing);
            return written ? std::string() : "cannot write " + path + ": " + windowsReason(error);
        }
        if (existing != INVALID_HANDLE_VALUE)
            CloseHandle(existing);
    }
    const RemovedOnSignal removal;
    std::random_device random;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string temporary;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = folderOf(path) + "\\." + std::filesystem::path(path).filename().string() + '.'
                    + std::to_string(random()) + ".tmp";
        if (temporary.size() >= sizeof s_temporary)
            return "cannot write " + path + ": the path is too long";
        std::memcpy(s_temporary, temporary.c_str(), temporary.size() + 1);
        s_pending = 1;
        file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            s_pending = 0;
            return "cannot write " + path + ": " + windowsReason(GetLastError());
        }
    }
    if (file == INVALID_HANDLE_VALUE)
        return "cannot write " + path + ": no free name for a file beside it";
    bool done = writeAll(file, bytes) && FlushFileBuffers(file);
    DWORD error = GetLastError();
    done = CloseHandle(file) && done;
    // ReplaceFile keeps the target's permissions and attributes; a new target is just moved.
    if (done)
        done = attributes != INVALID_FILE_ATTRIBUTES
                   ? ReplaceFileA(path.c_str(), temporary.c_str(), nullptr,
                                  REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                   : MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!done) {
        error = GetLastError();
        DeleteFileA(temporary.c_str());
        return "cannot write " + path + ": " + windowsReason(error);
    }
    return {};
}

} // namespace

std::string write(const std::string &path, std::string_view bytes)
{
    return replace(path, bytes);
}

std::string read(const std::string &path, std::string *bytes)
{
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return path + " is a directory";
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream all;
    if (!stream || !(all << stream.rdbuf() || stream.peek() == EOF))
        return "cannot read " + path + ": " + std::strerror(errno);
    *bytes = all.str();
    return {};
}

} // namespace ToolFiles
