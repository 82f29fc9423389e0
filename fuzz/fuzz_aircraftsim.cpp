// Feeds arbitrary bytes to the simulated aircraft (both framings, every
// device, in chunks) and arbitrary text to the scenario reader.

#include "ZoSimAircraft.h"
#include "ZoSimEventLog.h"
#include "ZoSimGcpmListener.h"
#include "ZoSimScenario.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qInstallMessageHandler(quiet);
    // Owned by the process and never destroyed: tearing Qt's application
    // object down from libFuzzer's exit handlers crashes inside Qt.
    static QCoreApplication *app = new QCoreApplication(*argc, *argv);
    (void)app;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    ZoSimEventLog log;
    log.setSilent(true);
    const uint8_t mode = data[0];
    data += 1;
    size -= 1;

    if (mode % 4 == 0) {
        ZoSimScenario sc;
        QString error;
        sc.load(QByteArray(reinterpret_cast<const char *>(data), int(size)), &error);
        sc.addFault(QString::fromLatin1(reinterpret_cast<const char *>(data), int(size)), &error);
        sc.addModule(QString::fromLatin1(reinterpret_cast<const char *>(data), int(size)), &error);
        return 0;
    }
    if (mode % 4 == 1) {
        ZoSimGcpmListener gcpm(&log);
        gcpm.handle(QByteArray(reinterpret_cast<const char *>(data), int(size)));
        return 0;
    }

    ZoSimScenario sc;
    sc.telemetryMs = 0;
    sc.eraseMs = 0;
    sc.addressMode = (mode >> 2) % 3 == 0 ? 0 : (mode >> 2) % 3 == 1 ? 4 : 8;
    sc.addModule(QStringLiteral("38:0:1.0.0:1"), nullptr);
    sc.addModule(QStringLiteral("79:2:1.0.0:2"), nullptr);
    sc.addModule(QStringLiteral("77:1:1.0.0:3"), nullptr);
    sc.addModule(QStringLiteral("86:3:1.0.0:4"), nullptr);
    if (mode & 0x40)
        sc.addFault(QStringLiteral("corrupt-every=2"), nullptr);
    ZoSimAircraft aircraft(sc, &log);
    const int link = aircraft.attachLink(QStringLiteral("fuzz"));
    // Chunk sizes come from the input's own bytes, so splits get explored too.
    size_t pos = 0;
    while (pos < size) {
        const size_t chunk = 1 + data[pos] % 200;
        const size_t n = chunk < size - pos ? chunk : size - pos;
        aircraft.receive(link, QByteArray(reinterpret_cast<const char *>(data + pos), int(n)));
        pos += n;
        if (mode & 0x80)
            QCoreApplication::processEvents(); // let erase timers fire between chunks
    }
    QCoreApplication::processEvents();
    return 0;
}
