// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/quillora.h"
#include "shell/terminationwatcher.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // From the first moment on, a request to end is answered with an orderly close once
    // the event loop runs.
    TerminationWatcher::catchTerminationSignals();
    QApplication app(argc, argv);
    TerminationWatcher terminationWatcher;
    Quillora window(nullptr);
    QObject::connect(&terminationWatcher, &TerminationWatcher::terminationRequested, &window,
                     &Quillora::closeUnattended);
#ifdef Q_OS_WIN
    // Log-off or shutdown: Windows ends the process soon after asking, so the notes are
    // saved while it asks, as for a termination signal elsewhere.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     &Quillora::closeUnattended);
#endif
    window.show();
    const int exitCode = app.exec();
    // Ended by the system with notes that could be neither saved nor rescued: say so.
    return exitCode == 0 && window.notesLost() ? 1 : exitCode;
}
