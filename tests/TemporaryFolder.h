// SPDX-License-Identifier: MIT
#pragma once

// A folder of its own for each test, removed with everything in it.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>

class TemporaryFolder
{
public:
    TemporaryFolder()
    {
        static std::atomic<unsigned> counter {0};
        std::random_device entropy;
        const auto tag =
            std::to_string(entropy()) + "-" + std::to_string(counter++) + "-"
            + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        m_path = std::filesystem::temp_directory_path() / ("selvane-" + tag);
        std::filesystem::create_directories(m_path);
    }
    ~TemporaryFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    const std::filesystem::path &path() const { return m_path; }
    std::string file(const std::string &name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};
