// Tandrel: application set-up, the windows in their order, the event loop.
#include <QApplication>

#include "AppWindows.h"
#include "MainWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The program's title, for the taskbar and the window class. No display name is set:
    // the desktop would append it to every window title (" Tandrel 1.1 — Tandrel").
    QApplication::setApplicationName(QStringLiteral("Tandrel"));

    tandrel::AppWindows windows;
    windows.main().show();
    return app.exec();
}
