/* SPDX-License-Identifier: MIT */
/*
 * Preloaded into the panel by the crash test: every write to the settings file or its
 * write-ahead log waits for the test's leave, and so does the end of the process after them.
 * Before its n-th such write the process makes "waiting-n" in SELVANE_TEST_WRITE_GATE and
 * waits for "go-n" there ("waiting-exit" and "go-exit" at its end; "go-all" lets everything
 * through), so the test can kill it at exactly the place it aims at, however loaded the
 * machine is.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static int s_writes;

static void waitTurn(const char *what)
{
    const char *gate = getenv("SELVANE_TEST_WRITE_GATE");
    char waiting[4096], go[4096], all[4096];
    if (!gate)
        return;
    snprintf(waiting, sizeof waiting, "%s/waiting-%s", gate, what);
    snprintf(go, sizeof go, "%s/go-%s", gate, what);
    snprintf(all, sizeof all, "%s/go-all", gate);
    close(open(waiting, O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    while (access(go, F_OK) != 0 && access(all, F_OK) != 0) {
        const struct timespec pause = {0, 1000000};
        nanosleep(&pause, NULL);
    }
}

/* Whether `fd` is the settings file or its write-ahead log. */
static int gated(int fd)
{
    const char *file = getenv("SELVANE_REGISTRY");
    char link[64], path[4096];
    ssize_t length;
    size_t size;
    if (!file)
        return 0;
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    length = readlink(link, path, sizeof path - 1);
    if (length <= 0)
        return 0;
    path[length] = '\0';
    size = strlen(file);
    return strncmp(path, file, size) == 0 && (path[size] == '\0' || strcmp(path + size, "-wal") == 0);
}

static void before(int fd)
{
    char what[16];
    if (!gated(fd))
        return;
    snprintf(what, sizeof what, "%d", ++s_writes);
    waitTurn(what);
}

__attribute__((destructor)) static void atExit(void)
{
    if (s_writes > 0)
        waitTurn("exit");
}

ssize_t write(int fd, const void *buffer, size_t count)
{
    static ssize_t (*real)(int, const void *, size_t);
    if (!real)
        real = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    before(fd);
    return real(fd, buffer, count);
}

ssize_t pwrite(int fd, const void *buffer, size_t count, off_t offset)
{
    static ssize_t (*real)(int, const void *, size_t, off_t);
    if (!real)
        real = (ssize_t(*)(int, const void *, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    before(fd);
    return real(fd, buffer, count, offset);
}

ssize_t pwrite64(int fd, const void *buffer, size_t count, off64_t offset)
{
    static ssize_t (*real)(int, const void *, size_t, off64_t);
    if (!real)
        real = (ssize_t(*)(int, const void *, size_t, off64_t))dlsym(RTLD_NEXT, "pwrite64");
    before(fd);
    return real(fd, buffer, count, offset);
}
