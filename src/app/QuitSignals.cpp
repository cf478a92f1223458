// SPDX-License-Identifier: MIT
#include "QuitSignals.h"

#include <QSocketNotifier>

#if !defined(_WIN32)
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
#if !defined(_WIN32)
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// A signal handler can reach nothing but static storage; these two cells are all it uses.
int g_pipe[2] = {-1, -1};
struct sigaction g_previous[3];

extern "C" void onSignal(int signalNumber)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}
#endif
} // namespace

QuitSignals::QuitSignals(QObject *parent)
    : QObject(parent)
{
#if !defined(_WIN32)
    if (::pipe(g_pipe) != 0)
        return;
    for (const int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::readPipe);

    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &g_previous[i]);
#endif
}

QuitSignals::~QuitSignals()
{
#if !defined(_WIN32)
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    delete m_notifier;
    for (int &fd : g_pipe) {
        ::close(fd);
        fd = -1;
    }
#endif
}

void QuitSignals::readPipe()
{
#if !defined(_WIN32)
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        emit quitRequested(byte);
#endif
}
