// tolvane-xshot OUT.png [WINDOW-ID]
//
// Grabs the whole screen of $DISPLAY (or one window, by its X id in decimal
// or 0x-hex, as xdotool prints it) into OUT.png. Exits 0 when the picture
// was written.

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char *argv[])
{
    // The grab needs the real display, whatever the caller's environment says.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    QTextStream err(stderr);
    if (args.size() < 2 || args.size() > 3) {
        err << "usage: tolvane-xshot OUT.png [WINDOW-ID]\n";
        return 2;
    }
    WId window = 0;
    if (args.size() == 3) {
        bool ok = false;
        window = WId(args.at(2).toULongLong(&ok, 0));
        if (!ok) {
            err << "not a window id: " << args.at(2) << '\n';
            return 2;
        }
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        err << "no screen\n";
        return 1;
    }
    const QPixmap shot = screen->grabWindow(window);
    if (shot.isNull() || !shot.save(args.at(1), "PNG")) {
        err << "cannot grab or write " << args.at(1) << '\n';
        return 1;
    }
    return 0;
}
