#include "ZoBootCommands.h"
#include "ZoBootloaderProbe.h"
#include "ZoManualAdd.h"
#include "ZoMsgLooper.h"
#include "ZoProtocolLease.h"

#include <QRegularExpression>
#include <QSemaphore>
#include <QtTest>

#include <memory>

// The protocol lease over a running looper without a link, and the two
// parts that meet after a search on an Arno2 core missing its data board.
class TstZoProtocolLease : public QObject
{
    Q_OBJECT

    std::unique_ptr<ZoMsgLooper> looper;

private Q_SLOTS:
    void init()
    {
        looper = std::make_unique<ZoMsgLooper>();
        looper->startLooper();
        QTRY_VERIFY(looper->isReady());
    }

    void cleanup()
    {
        QMetaObject::invokeMethod(looper.get(), [l = looper.get()] { l->onTerminateLooper(); });
        QVERIFY(looper->wait(3000));
    }

    // Steps: +x takes, =xN sets mode N, -x releases (takers a, b; l on the
    // looper's thread, after "|": once the steps before were issued, before
    // their mode changes arrive); M adds the data board (44) by hand, P
    // starts the probe (the bare report, then 79 by number), A is the
    // board's report, w waits 150 ms. Then what each take and set returned,
    // the probe's end, the looper's mode/variant and the holder.
    void lease_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("refused"); // the warning of a refused take
        const QString waits = QStringLiteral("manual add - refused to the bootloader probe");
        QTest::newRow("take, set, release") << "+a =a2 -a" << "1 1 -> 0/0" << "";
        QTest::newRow("second taker refused")
            << "+a =a2 +b =b3" << "1 1 0 0 -> 2/0 a" << "held by the a - refused to the b";
        QTest::newRow("release by a non-holder") << "+a =a3 -b" << "1 1 -> 3/0 a" << "";
        QTest::newRow("taken again, then by b") << "+a +a -a +b =b2" << "1 1 1 1 -> 2/0 b" << "";
        QTest::newRow("looper's thread next") << "+a =a2 -a | +l =l3" << "1 1 1 1 -> 3/0 l" << "";
        QTest::newRow("looper's thread refused")
            << "+a =a2 | +l =l3" << "1 1 0 0 -> 2/0 a" << "held by the a - refused to the l";
        QTest::newRow("looper's thread releases") << "| +l =l3 -l" << "1 1 -> 0/0" << "";
        QTest::newRow("board added, probe waits") << "M P w" << "-> 0/2 manual add" << waits;
        QTest::newRow("board answers, probe asks") << "M P w A" << "probe done -> 0/0" << waits;
    }

    void lease()
    {
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        QFETCH(QString, refused);
        if (!refused.isEmpty())
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(QRegularExpression::escape(refused)));
        ZoProtocolLease lease(looper.get());
        ZoBootCommands commands(looper.get());
        ZoManualAdd manual(&commands, &lease);
        ZoBootloaderProbe probe(looper.get(), &commands, &lease);
        ZoUpgradeTimings timings;
        timings.forceReportDelayMs = 10;
        manual.setTimings(timings);
        probe.setListenMs(20);
        QStringList log;
        connect(&probe, &ZoBootloaderProbe::sigFinished, this,
            [&] { log << QStringLiteral("probe done"); });
        int takers[3] = {};
        const auto run = [&](const QString &part) {
            for (const QString &s : part.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const int who = QStringLiteral("abl").indexOf(s.size() > 1 ? s.at(1) : QChar());
                const void *taker = who < 0 ? nullptr : &takers[who];
                if (s == QLatin1String("M"))
                    manual.addModule(ZoDeviceKey(44));
                else if (s == QLatin1String("P"))
                    probe.start(true, {ZoDeviceKey(79, 1)});
                else if (s == QLatin1String("A"))
                    manual.answered();
                else if (s == QLatin1String("w"))
                    QTest::qWait(150);
                else if (s.at(0) == QLatin1Char('+'))
                    log << QString::number(lease.take(taker, s.mid(1)));
                else if (s.at(0) == QLatin1Char('='))
                    log << QString::number(lease.setMode(taker, s.mid(2).toInt(), 0));
                else
                    lease.release(taker);
            }
        };
        // The looper's thread runs its steps after these, ahead of their mode changes.
        QSemaphore issued;
        QMetaObject::invokeMethod(looper.get(), [&] {
            issued.acquire();
            run(steps.section(QLatin1Char('|'), 1));
        });
        run(steps.section(QLatin1Char('|'), 0, 0));
        issued.release();
        const auto outcome = [&] {
            QMetaObject::invokeMethod(looper.get(), [] {}, Qt::BlockingQueuedConnection);
            return QStringLiteral("%1 -> %2/%3 %4").arg(log.join(QLatin1Char(' ')))
                .arg(looper->protocolMode()).arg(looper->moduleVariant()).arg(lease.holder())
                .trimmed();
        };
        QTRY_COMPARE(outcome(), expected);
    }
};

QTEST_GUILESS_MAIN(TstZoProtocolLease)
#include "tst_zoprotocollease.moc"
