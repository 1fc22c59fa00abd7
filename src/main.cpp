#include <QApplication>
#include <QIcon>

#include "mainwindow.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

// Starts the program: one window, the picture named on the command line (if any) loading,
// the event loop, and the loop's result as exit code.
int main(int argc, char **argv)
{
    // A save past the file size limit (ulimit -f) then fails with a message instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("rastrel-zo9"));
    QApplication::setApplicationName(QStringLiteral("rastrel-zo9"));
    // The desktop entry's name, so the desktop matches the window to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("rastrel-zo9"));
    QIcon icon(QStringLiteral(":qtRastrel.png"));
    for (const int size : {16, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    MainWindow window;
    window.show();
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1)
        window.loadPicture(arguments.at(1));
    const int code = app.exec();
    // A conversion still running when the window closed is not waited for: the settings are
    // already written, and the work is ended with the process.
    if (window.isBusy() || ConversionQueue::runningWork() > 0) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(code);
    }
    return code;
}
