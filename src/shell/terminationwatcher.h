// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a signal on the event loop, so that a log-out, a
// shutdown or Ctrl+C ends the program the orderly way. The handler itself only writes a
// byte to a socket pair (async-signal-safe); everything else happens in the event loop.
// Does nothing where there are no POSIX signals.
class TerminationWatcher : public QObject
{
    Q_OBJECT

public:
    // Catches the signals from here on; call it first thing in main(), before the toolkit
    // starts. What arrives before a watcher exists waits for it.
    static void catchTerminationSignals();

    explicit TerminationWatcher(QObject *parent = nullptr);
    ~TerminationWatcher() override;

signals:
    void terminationRequested();

private:
    void readPendingSignals();

    QSocketNotifier *notifier = nullptr;
};
