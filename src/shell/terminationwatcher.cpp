// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminationwatcher.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};
constexpr int WatchedSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void forwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    // Nothing to do if the pipe is full: a wake-up is already pending.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = savedErrno;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : WatchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

} // namespace
#endif

void TerminationWatcher::catchTerminationSignals()
{
#ifdef Q_OS_UNIX
    if (signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    for (int fd : signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    setHandler(forwardSignal);
    // Past a file-size limit, a write fails with EFBIG like on a full disk, which the save
    // handles, instead of ending the program before it could keep the notes.
    ::signal(SIGXFSZ, SIG_IGN);
#endif
}

TerminationWatcher::TerminationWatcher(QObject *parent) : QObject(parent)
{
#ifdef Q_OS_UNIX
    catchTerminationSignals();
    if (signalPipe[1] < 0)
        return;
    notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationWatcher::readPendingSignals);
#endif
}

TerminationWatcher::~TerminationWatcher()
{
#ifdef Q_OS_UNIX
    if (!notifier)
        return;
    setHandler(SIG_DFL);
    delete notifier;
    notifier = nullptr;
    for (int &fd : signalPipe) {
        ::close(fd);
        fd = -1;
    }
#endif
}

void TerminationWatcher::readPendingSignals()
{
#ifdef Q_OS_UNIX
    char bytes[16];
    while (::read(signalPipe[1], bytes, sizeof bytes) > 0) {
    }
    emit terminationRequested();
#endif
}
