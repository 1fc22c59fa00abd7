#include <QApplication>
#include <QIcon>

#include "mainwindow.h"

#include <csignal>

// Starts the program: one window, the event loop, and the loop's result as exit code.
int main(int argc, char **argv)
{
    // A save past the file size limit (ulimit -f) then fails with a message instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("rastrel-zo9"));
    QApplication::setApplicationName(QStringLiteral("rastrel-zo9"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":qtRastrel.png")));
    MainWindow window;
    window.show();
    return app.exec();
}
