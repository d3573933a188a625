// The floor of the start-up benchmark: the least a Qt Widgets program does to show a window of
// the main window's size. scripts/bench-startup.sh starts it exactly like the application.
#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Floor"));
    window.resize(1060, 720);
    window.show();
    return QApplication::exec();
}
