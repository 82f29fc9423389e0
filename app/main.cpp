// Tolvane: puts a staged updater in place, reads the configuration, installs
// the dictionary, lets ZoHaldenUpdate look for a new release and then shows
// the main window.

#include "ZoStartup.h"
#include "ZoTolMainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const ZoStartup::Environment env = ZoStartup::currentEnvironment(QCoreApplication::arguments());
    return ZoStartup::run(env, [&app]() {
        ZoTolMainWindow window;
        window.show();
        return app.exec();
    });
}
