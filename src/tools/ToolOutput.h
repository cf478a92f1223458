// SPDX-License-Identifier: MIT
#pragma once

#include <ostream>
#include <streambuf>
#include <string_view>

/**
 * A tool's standard output (or any descriptor), written through one buffer that keeps the
 * system's reason for the first write that failed: a full disk or a closed output is a
 * failure the tool reports, never a success.
 */
class ToolOutput : public std::ostream
{
public:
    /** Writes to descriptor `fd`; -1 stands for a closed output. */
    explicit ToolOutput(int fd);
    ~ToolOutput() override;
    ToolOutput(const ToolOutput &) = delete;
    ToolOutput &operator=(const ToolOutput &) = delete;

    /**
     * Standard output's descriptor, or -1 when it is closed. Closed standard descriptors are
     * taken by the null device first, so that no file the tool opens lands there.
     */
    static int standardOutput();

    /** The tool's exit status once everything is flushed: `code`; when output was lost, one
        line on `err` ("selvane-scan: cannot write standard output: No space left on
        device") and 1 in place of 0. */
    int finish(int code, std::ostream &err, std::string_view tool);

private:
    class Buffer : public std::streambuf
    {
    public:
        explicit Buffer(int fd);
        int error() const { return m_error; }

    protected:
        int overflow(int c) override;
        std::streamsize xsputn(const char *data, std::streamsize size) override;
        int sync() override;

    private:
        bool drain();

        int m_fd;
        int m_error = 0;
        char m_bytes[8192];
    };

    Buffer m_buffer;
};
