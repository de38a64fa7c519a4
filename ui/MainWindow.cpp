#include "MainWindow.h"

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(QStringLiteral(" Tandrel 1.1"));
    resize(700, 600);
}

TForm1::~TForm1() = default;
