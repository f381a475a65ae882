#include "mainwindow/quillora.h"
#include "shell/terminationwatcher.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Installed before the notes are loaded, so that a request to end during start-up is
    // answered with an orderly close once the event loop runs.
    TerminationWatcher terminationWatcher;
    Quillora window(nullptr);
    QObject::connect(&terminationWatcher, &TerminationWatcher::terminationRequested, &window,
                     &QWidget::close);
    window.show();
    return app.exec();
}
