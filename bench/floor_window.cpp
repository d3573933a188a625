// The floor of the start-up benchmark: the least a Qt Widgets program does to show a window of
// the main window's size. scripts/bench-startup.sh starts it exactly like the application.
// With the argument "text" the window also shows one line of text, so that the program loads the
// font stack (fontconfig, a font file, text shaping) that any window showing words pays for.
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstring>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Floor"));
    window.resize(1060, 720);
    if (argc > 1 && std::strcmp(argv[1], "text") == 0)
        (new QLabel(QStringLiteral("Projects"), &window))->move(40, 32);
    window.show();
    return QApplication::exec();
}
