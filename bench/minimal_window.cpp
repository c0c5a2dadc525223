// The smallest Qt Widgets program that shows a window: the start-up yardstick.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.resize(320, 240);
    window.show();
    return app.exec();
}
