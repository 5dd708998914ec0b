// qlscreengrab FILE.png: saves the whole screen of $DISPLAY, so scripts can
// keep pictures of the window running under Xvfb.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: qlscreengrab FILE.png\n");
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (screen == nullptr || !screen->grabWindow(0).save(argv[1])) {
        std::fprintf(stderr, "qlscreengrab: cannot save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
