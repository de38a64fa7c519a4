// Tandrel: application set-up, the windows in their order, the event loop.
#include <QApplication>

#include "AppWindows.h"
#include "MainWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tandrel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tandrel"));

    tandrel::AppWindows windows;
    windows.main().show();
    return app.exec();
}
