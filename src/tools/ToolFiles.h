// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

/**
 * The files a tool reads and writes, named on its command line.
 *
 * An output file (-o) is written whole or not at all.
 * A new file, or an existing regular one (also through a symbolic link to it), is written
 * into a file of its own made beside it (created exclusively, with an unpredictable name,
 * never through a link), which then replaces the target: the target keeps its permission
 * bits, and is never seen half-written. That file is removed on every failure and when the
 * tool is ended by SIGINT, SIGTERM or SIGHUP; a "FILE.part" of anyone's is never touched.
 *
 * What is not a regular file is never replaced: a terminal or other character device
 * (/dev/stdout, /dev/tty, /dev/null) and a FIFO that a reader holds open are written
 * directly; a FIFO that nobody reads, a socket, a block device and a directory are refused.
 */
namespace ToolFiles {

/** Writes `bytes` as `path`; empty when done, else why not, in words with the system's
    reason ("cannot write out.reg: No space left on device"). */
std::string write(const std::string &path, std::string_view bytes);

/** The whole of the file `path` into `*bytes`; empty when done, else why not ("in.reg is a
    directory"). Never waits on a FIFO that nobody writes. */
std::string read(const std::string &path, std::string *bytes);

} // namespace ToolFiles
