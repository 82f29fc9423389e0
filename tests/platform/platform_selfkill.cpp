// platform_selfkill wait   sleeps until it is ended
// platform_selfkill kill   ends every process named like its own executable,
//                          then prints "alive" and exits 0 (it must not hit
//                          itself)

#include "ZoPlatform.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    if (argc == 2 && std::strcmp(argv[1], "wait") == 0) {
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1);
    }
    if (argc == 2 && std::strcmp(argv[1], "kill") == 0) {
        QCoreApplication app(argc, argv);
        const QString own = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        const bool done = ZoPlatform::killProcessesByName(own, 500);
        std::printf("alive %d\n", done ? 1 : 0);
        return 0;
    }
    return 1;
}
