#include "ZoCliDevice.h"
#include "ZoCliFleet.h"
#include "ZoCliLabel.h"
#include "ZoCliLock.h"
#include "ZoCliOptions.h"
#include "ZoCliPrinter.h"
#include "ZoCliRunner.h"
#include "ZoFirmwareFolder.h"
#include "ZoFlashHistory.h"
#include "ZoRunJournal.h"
#include "ZoTestAircraftSim.h"
#include "ZoTestCloudSim.h"
#include "ZoTestFiles.h"
#include "ZoTestFirmware.h"
#include "ZoTestSysConfig.h"
#include "ZoTestWait.h"
#include "ZoUpgradeWorkflow.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

#include <signal.h>

#ifdef TOLVANE_HAVE_QRENCODE
#include <QImage>

#include <qrencode.h>
#endif

// tolvane-cli: its option table and its verdicts in-process, then the
// program itself against the aircraft and cloud simulators on loopback, one
// working directory per run. The simulator's own record of what it received
// (blocks, verify events, version reports) is the check on what the
// program's report claims.
namespace {

using Runner = ZoCliRunner;

QString describe(const ZoCliOptions &o)
{
    if (o.helpRequested)
        return QStringLiteral("help");
    const ZoPlaneConfig &l = o.link;
    QString s = o.autoLink ? QStringLiteral("auto")
        : l.type == ZoPlaneConfig::LinkUdp
        ? QStringLiteral("udp %1:%2 local %3").arg(l.host).arg(l.hostport).arg(l.localPort)
        : l.type == ZoPlaneConfig::LinkTcpClient
        ? QStringLiteral("tcp %1:%2 local %3")
              .arg(l.TcpServerHost)
              .arg(l.TcpServerHostPort)
              .arg(l.TcpClientLocalPort)
        : QStringLiteral("serial %1 %2").arg(l.com).arg(l.baud);
    s += QLatin1String(o.mode == ZoCliOptions::ModeUpgrade ? " upgrade " : " list ")
        + ZoCliOptions::branchName(o.branch)
        + (o.key.isEmpty() ? QString() : QLatin1Char('/') + o.key)
        + QLatin1String(o.yes ? " yes" : "")
        + QLatin1String(o.firmwareDir.isEmpty() ? "" : " firmware")
        + QLatin1String(o.reportPath.isEmpty() ? "" : " report")
        + QLatin1String(o.writeLockPath.isEmpty() ? "" : " write-lock");
    if (o.links.size() > 1)
        s += QStringLiteral(" links %1 jobs %2").arg(o.links.size()).arg(o.jobs);
    if (o.station)
        s += QStringLiteral(" station leave %1 batch %2 by-id %3")
                 .arg(o.leaveAfterMs)
                 .arg(o.firstBatch)
                 .arg(o.serialById.isEmpty() ? QStringLiteral("none") : o.serialById);
    return s;
}

// A firmware file whose header names the type and version, with its image.
QByteArray firmware(tdu1 type, tdu1 major, tdu1 minor, tdu1 revision, int imageSize)
{
    return zoTestFirmwareBytes(tdu4(imageSize), tVersion {type, major, minor, revision}, imageSize);
}

// The values of `names` in `o`, joined by "|".
QString fields(const QJsonObject &o, const char *names)
{
    QStringList v;
    for (const QString &n : QString::fromLatin1(names).split(QLatin1Char(' ')))
        v << o.value(n).toVariant().toString();
    return v.join(QLatin1Char('|'));
}

QByteArray imageDigest(const QByteArray &file)
{
    return QCryptographicHash::hash(file.mid(48), QCryptographicHash::Sha256).toHex();
}

// One finished run of the program.
struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
    QJsonObject report;
    QByteArray journal; // runjournal.json as the run left it
    QList<ZoFlashHistory::Row> history; // as the run left it
    bool historyVerifies = false;

    QString dump() const { return QStringLiteral("stdout:\n%1\nstderr:\n%2").arg(out, err); }
    QJsonObject device(int type) const
    {
        for (const QJsonValue &v : report.value(QLatin1String("devices")).toArray())
            if (zoNum(v.toObject(), "type") == type)
                return v.toObject();
        return {};
    }
};

} // namespace

class TstTolvaneCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_files;
    QByteArray m_core; // type 80, 1.8.2
    QByteArray m_tunex; // type 77, 2.0.4
    QString m_scenario;
    QString m_second; // the same aircraft with another EID
    QString m_firmwareDir;

    // The simulators' cloud: the Emba2 family's stable catalogue offers a
    // newer core and tuning module than the scenario's aircraft runs.
    bool startCloud(ZoTestCloudSim &cloud, const QStringList &faults = {})
    {
        const QByteArray catalog = R"({"catalogues": [{"fid": 80, "branch": 1, "firmwares": [
            {"fid": 80, "nickNameEn": "Emba2 flight controller", "UpgradeDescriptionEn": "Core.",
             "version": "1.8.2", "upgradeFile": "emba2-80.bin"},
            {"fid": 77, "nickNameEn": "Tuning module", "UpgradeDescriptionEn": "Tunex.",
             "version": "2.0.4", "upgradeFile": "tunex-77.bin"}]}]})";
        return cloud.writeFile(QStringLiteral("catalog.json"), catalog)
            && cloud.writeFile(QStringLiteral("files/emba2-80.bin"), m_core)
            && cloud.writeFile(QStringLiteral("files/tunex-77.bin"), m_tunex)
            && cloud.start(false, faults);
    }

    static QProcessEnvironment environment(const QString &cloudUrl)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TOLVANE_CLOUD_URL"), cloudUrl);
        env.insert(QStringLiteral("TOLVANE_GCPM_HOST"), QStringLiteral("127.0.0.1"));
        env.insert(QStringLiteral("TOLVANE_GCPM_PORT"), QStringLiteral("1"));
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        return env;
    }

    // `during` runs once the program has started, while it runs.
    // `station`: a working directory kept from run to run (its history and
    // image cache with it); empty: a fresh one.
    CliRun runCli(const QStringList &args, const QString &cloudUrl, int timeoutMs,
        const std::function<void(QProcess &)> &during = {}, const QString &station = {})
    {
        CliRun r;
        QTemporaryDir fresh;
        const QDir work(station.isEmpty() ? fresh.path() : station);
        // The tuning module answers only when its node id is configured.
        if (!zoWriteFile(work.filePath(QStringLiteral("busdevcfg.xml")),
                "<busdevcfg><tunex><NodeId>1</NodeId></tunex></busdevcfg>\n"))
            return r;
        const QString reportPath = work.filePath(QStringLiteral("report.json"));
        QProcess p;
        p.setProcessEnvironment(environment(cloudUrl));
        p.setWorkingDirectory(work.path());
        p.start(QStringLiteral(TOLVANE_CLI),
            args + QStringList {QStringLiteral("--report"), reportPath});
        if (during && p.waitForStarted(5000))
            during(p);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished(3000);
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        r.report = QJsonDocument::fromJson(zoReadFile(reportPath)).object();
        r.journal = zoReadFile(work.filePath(QStringLiteral("runjournal.json")));
        ZoFlashHistory history(work.filePath(QStringLiteral("history.sqlite")));
        if (QFile::exists(history.path()) && history.open()) {
            r.history = history.rows();
            r.historyVerifies = history.verify().ok;
        }
        return r;
    }

    // The picture holds, from its top left corner, the QR symbol libqrencode
    // makes of the line, module for module, in its white quiet zone.
    static void checkLabelPicture(const QString &path, const QString &line)
    {
#ifdef TOLVANE_HAVE_QRENCODE
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QRcode *qr = QRcode_encodeString8bit(line.toUtf8().constData(), 0, QR_ECLEVEL_M);
        QVERIFY(qr);
        const int px = ZoCliLabel::ModulePixels;
        int wrong = 0;
        for (int y = -4; y < qr->width + 4; ++y)
            for (int x = -4; x < qr->width + 4; ++x) {
                const bool inside = x >= 0 && y >= 0 && x < qr->width && y < qr->width;
                const bool dark = inside && (qr->data[y * qr->width + x] & 1);
                const QRgb pixel = image.pixel((x + 4) * px + px / 2, (y + 4) * px + px / 2);
                wrong += dark != (qGray(pixel) < 128);
            }
        QRcode_free(qr);
        QCOMPARE(wrong, 0);
#else
        Q_UNUSED(path) // built without libqrencode: no pictures
        Q_UNUSED(line)
#endif
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_files.isValid());
        // The images the cloud serves and --firmware reads, from the packer.
        m_firmwareDir = m_files.filePath(QStringLiteral("firmware"));
        QVERIFY(QDir().mkpath(m_firmwareDir));
        for (const char *pack : {"emba2-80.bin 80 1.8.2 4096", "tunex-77.bin 77 2.0.4 2048"}) {
            const QStringList a = QString::fromLatin1(pack).split(QLatin1Char(' '));
            QProcess p;
            p.start(QStringLiteral(TOLVANE_FWPACK),
                {QStringLiteral("-o"), m_firmwareDir + QLatin1Char('/') + a[0],
                    QStringLiteral("--type"), a[1], QStringLiteral("--version"), a[2],
                    QStringLiteral("--size"), a[3], QStringLiteral("--seed"), a[1]});
            QVERIFY(p.waitForFinished(10000) && p.exitCode() == 0);
        }
        m_core = zoReadFile(m_firmwareDir + QStringLiteral("/emba2-80.bin"));
        m_tunex = zoReadFile(m_firmwareDir + QStringLiteral("/tunex-77.bin"));
        QCOMPARE(m_core.size(), 48 + 4096);
        QCOMPARE(m_tunex.size(), 48 + 2048);

        // An Emba2 core with one tuning module on the serial bus: the
        // smallest aircraft whose catalogue holds a module and a core.
        m_scenario = m_files.filePath(QStringLiteral("scenario.json"));
        QVERIFY(zoWriteFile(m_scenario, R"({"address": "none",
            "core": {"type": 80, "version": "1.7.5", "compileTime": "2024-05-17 13:45:09",
                     "eid": "3A0F2C5D00170043"},
            "modules": [{"type": 77, "node": 1, "version": "1.0.4", "serial": "7701"}]})"));
        m_second = m_files.filePath(QStringLiteral("second.json"));
        QVERIFY(zoWriteFile(m_second,
            QString::fromLatin1(zoReadFile(m_scenario))
                .replace(QStringLiteral("3A0F2C5D00170043"), QStringLiteral("3A0F2C5D00170099"))
                .toLatin1()));
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        // A good row: what was understood; a bad row: what the message names.
        QTest::addColumn<QString>("expect");
        auto row = [](const char *name, const QString &args, bool ok, const QString &expect) {
            QTest::newRow(name) << args.split(QLatin1Char(' '), Qt::SkipEmptyParts) << ok << expect;
        };
        auto good = [&row](const char *name, const QString &args, const char *understood) {
            row(name, args, true, QLatin1String(understood));
        };
        auto bad = [&row](const char *name, const char *args, const char *named) {
            row(name, QLatin1String(args), false, QLatin1String(named));
        };
        good("defaults", QString(), "auto list stable");
        good("udp with local port", "--link udp:127.0.0.1:14550:14551",
            "udp 127.0.0.1:14550 local 14551 list stable");
        good("udp listens where it sends", "--link=udp:127.0.0.2:6075",
            "udp 127.0.0.2:6075 local 6075 list stable");
        good("tcp", "--link tcp:127.0.0.1:8001 --upgrade",
            "tcp 127.0.0.1:8001 local 0 upgrade stable");
        good("serial with baud", "--link serial:/tmp/x:115200 --yes",
            "serial /tmp/x 115200 list stable yes");
        good("serial default baud", "--link serial:/dev/ttyUSB0 --branch dev",
            "serial /dev/ttyUSB0 115200 list dev");
        good("custom branch", "--branch custom --key K-1 --link auto", "auto list custom/K-1");
        good("offline with report",
            QStringLiteral("--firmware %1 --report %1/r.json --upgrade").arg(QDir::tempPath()),
            "auto upgrade stable firmware report");
        good("help", "--upgrade -h", "help");
        good("pinned from a list", QStringLiteral("--write-lock %1/l.json").arg(QDir::tempPath()),
            "auto list stable write-lock");
        good("two links, one at a time",
            "--link tcp:127.0.0.1:8001 --link udp:127.0.0.1:14550 --jobs 1 --upgrade",
            "tcp 127.0.0.1:8001 local 0 upgrade stable links 2 jobs 1");

        good("station", "--station --link tcp:127.0.0.1:8001 --first-batch 5 --leave-after 2",
            "tcp 127.0.0.1:8001 local 0 upgrade stable station leave 2000 batch 5 by-id "
            "/dev/serial/by-id");
        good("station on serial adapters only", "--station --serial-by-id /tmp/ids --jobs 2",
            "auto upgrade stable station leave 5000 batch 0 by-id /tmp/ids");
        bad("station option alone", "--first-batch 3", "--first-batch");
        bad("station that lists", "--station --list", "--list");
        bad("station on the stored links", "--station --link auto", "--link auto");
        bad("leave-after 0", "--station --leave-after 0", "--leave-after");
        bad("station watching nothing", "--station --serial-by-id none", "nothing to watch");
        bad("label pictures into no folder", "--station --label-png /nonexistent/l", "--label-png");
        bad("help with an unknown option", "--help --frob", "--frob");
        bad("udp without port", "--link udp:1.2.3", "--link udp:1.2.3");
        bad("port 0", "--link tcp:127.0.0.1:0", "--link");
        bad("local port 70000", "--link udp:127.0.0.1:14550:70000", "LOCALPORT");
        bad("signed port", "--link tcp:127.0.0.1:+80", "--link");
        bad("host name", "--link tcp:localhost:8001", "HOST");
        bad("too many fields", "--link tcp:127.0.0.1:8001:1:2", "--link");
        bad("serial without device", "--link serial:", "--link");
        bad("serial baud 0", "--link serial:/tmp/x:0", "BAUD");
        bad("unknown scheme", "--link bluetooth:7", "--link");
        bad("link without value", "--link", "--link");
        bad("link twice", "--link tcp:127.0.0.1:1 --link auto", "--link");
        bad("same link twice", "--link tcp:127.0.0.1:1 --link tcp:127.0.0.1:1", "more than once");
        bad("progress format", "--progress xml", "--progress");
        bad("jobs with one link", "--link tcp:127.0.0.1:1 --jobs 2", "--jobs");
        bad("jobs 0", "--link tcp:127.0.0.1:1 --link tcp:127.0.0.1:2 --jobs 0", "--jobs");
        bad("doctor on two links", "--doctor --link tcp:127.0.0.1:1 --link tcp:127.0.0.1:2",
            "--doctor");
        bad("flag twice", "--upgrade --upgrade", "--upgrade");
        bad("unknown branch", "--branch nightly", "--branch");
        bad("custom without key", "--branch custom", "--key");
        bad("key without custom", "--key K-1", "--key");
        bad("list and upgrade", "--list --upgrade", "--upgrade");
        bad("stray argument", "stray", "stray");
        bad("firmware not a folder", "--firmware /nonexistent/fw", "--firmware");
        bad("report in a missing folder", "--report /nonexistent/r.json", "--report");
        bad("lock on a list", "--lock /nonexistent/l.json", "--lock is only used with --upgrade");
        bad("lock unreadable", "--upgrade --lock /nonexistent/l.json",
            "--lock /nonexistent/l.json");
        bad("one aircraft's lock from two",
            "--link tcp:127.0.0.1:1 --link tcp:127.0.0.1:2 "
            "--write-lock /tmp/l.json",
            "--write-lock");
    }

    // A lock read, then held against the files a run would flash: a row's
    // lock (@A, @B, @C: digests), the served files "type:version:sha" of the
    // due devices (all 2096 bytes), the digests the history flashed under
    // their version, and the findings ("kind type", then whether the run is
    // refused) or the parse error.
    void lock_data()
    {
        QTest::addColumn<QString>("lock"); // empty: none
        QTest::addColumn<QString>("served");
        QTest::addColumn<QString>("flashed");
        QTest::addColumn<QString>("expect");
        const QString pin77
            = QStringLiteral(R"({"type": 77, "version": "2.0.4", "size": 2096, "sha256": "@A"})");
        const auto lock = [](const QString &targets, int schema = 1) {
            return QStringLiteral(R"({"schema": %1, "written": "x", "targets": [%2]})")
                .arg(schema)
                .arg(targets);
        };
        const auto row = [](const char *name, const QString &l, const char *served,
                             const char *flashed, const char *expect) {
            QTest::newRow(name) << l << QString::fromLatin1(served) << QString::fromLatin1(flashed)
                                << QString::fromLatin1(expect);
        };
        row("pinned as served", lock(pin77), "77:2.0.4:@A", "", "admitted");
        row("one byte changed", lock(pin77), "77:2.0.4:@B", "", "Differs 77 refused");
        row("another version", lock(pin77), "77:2.0.5:@A", "", "Differs 77 refused");
        row("a type the lock does not name", lock(pin77), "77:2.0.4:@A 80:1.8.2:@C", "",
            "Unpinned 80 refused");
        row("an empty lock pins nothing", lock(QString()), "77:2.0.4:@A", "",
            "Unpinned 77 refused");
        row("digests in capitals", lock(pin77).replace(QLatin1String("@A"), QLatin1String("@U")),
            "77:2.0.4:@A", "", "admitted");
        row("other bytes flashed before, no lock", QString(), "77:2.0.4:@A", "@B @A",
            "ChangedBytes 77 admitted");
        row("the lock pins the new bytes", lock(pin77), "77:2.0.4:@A", "@B",
            "ChangedBytes 77 admitted");
        row("changed under the lock", lock(pin77), "77:2.0.4:@C", "@A",
            "Differs 77 ChangedBytes 77 refused");
        row("unknown schema", lock(pin77, 2), "", "", "error: unknown schema (2)");
        row("no schema", QStringLiteral(R"({"targets": []})"), "", "", "error: none given");
        row("not JSON", QStringLiteral("{"), "", "", "error: not JSON");
        row("type twice", lock(pin77 + QLatin1Char(',') + pin77), "", "", "error: pinned twice");
        row("short digest", lock(QString(pin77).replace(QLatin1String("@A"), QLatin1String("abc"))),
            "", "", "error: \"sha256\"");
        // A line break JSON let through after the digest (found by the fuzzer).
        row("digest and a line break",
            lock(QString(pin77).replace(QLatin1String("@A\""), QLatin1String("@A\n\""))), "", "",
            "error: \"sha256\"");
        row("two-part version",
            lock(QString(pin77).replace(QLatin1String("2.0.4"), QLatin1String("2.0"))), "", "",
            "error: \"version\"");
    }
    void lock()
    {
        QFETCH(QString, lock);
        QFETCH(QString, served);
        QFETCH(QString, flashed);
        QFETCH(QString, expect);
        const auto digests = [](QString text) {
            for (const char *d : {"@Aa", "@Bb", "@Cc", "@UA"})
                text.replace(QLatin1String(d, 2), QString(64, QLatin1Char(d[2])));
            return text;
        };
        std::optional<ZoCampaignGuard::Pins> pins;
        if (!lock.isEmpty()) {
            ZoCampaignGuard::Pins read;
            QString why;
            if (!ZoCliLock::parse(digests(lock).toUtf8(), read, &why)) {
                QVERIFY2(expect.startsWith(QLatin1String("error: ")) && why.contains(expect.mid(7)),
                    qPrintable(why));
                return;
            }
            // What is written reads back the same.
            ZoCampaignGuard::Pins again;
            QVERIFY(ZoCliLock::parse(ZoCliLock::serialize(read, {}), again, &why));
            QCOMPARE(again, read);
            pins = read;
        }
        QList<QPair<ZoDeviceKey, ZoCampaignGuard::Pin>> due;
        for (const QString &f : digests(served).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QStringList p = f.split(QLatin1Char(':'));
            due.append({ZoDeviceKey(tdu1(p[0].toInt())), {p[0].toInt(), p[1], 2096, p[2]}});
        }
        const QStringList seen = digests(flashed).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const auto history = [&seen](int, const QString &) { return seen; };
        const QList<ZoCampaignGuard::Finding> findings = ZoCampaignGuard::compare(pins, due,
            flashed.isEmpty() ? ZoCampaignGuard::History() : ZoCampaignGuard::History(history));
        QStringList said;
        const char *const kinds[] = {"Unpinned", "Differs", "ChangedBytes"};
        for (const ZoCampaignGuard::Finding &f : findings)
            said << QStringLiteral("%1 %2")
                        .arg(QLatin1String(kinds[int(f.kind)]))
                        .arg(f.served.type);
        said << QLatin1String(ZoCampaignGuard::refuses(pins, findings) ? "refused" : "admitted");
        QCOMPARE(said.join(QLatin1Char(' ')), expect);
    }
    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        QFETCH(QString, expect);
        ZoCliOptions o;
        const bool parsed = o.parse(QStringList {QStringLiteral("tolvane-cli")} + args);
        QCOMPARE(parsed, ok);
        if (parsed)
            QCOMPARE(describe(o), expect);
        else
            QVERIFY2(o.error().contains(expect), qPrintable(o.error()));
    }

    void firmwareDir_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<QByteArray>>("contents");
        QTest::addColumn<QString>("error"); // empty: the folder is accepted
        const QByteArray core = firmware(80, 1, 8, 2, 256);
        const QByteArray tunex = firmware(77, 2, 0, 4, 128);
        auto row = [](const char *name, const char *names, const QList<QByteArray> &contents,
                       const char *error = "") {
            QTest::newRow(name) << QString::fromLatin1(names).split(QLatin1Char(' ')) << contents
                                << QString::fromLatin1(error);
        };
        row("two types, a hidden file and a folder aside", "a.bin b.fw .notes sub/c.bin",
            {core, tunex, "not firmware", "ignored"});
        row("shorter than the header", "a.bin short.bin", {core, core.left(47)}, "short.bin");
        row("no type", "t0.bin", {firmware(0, 1, 0, 0, 64)}, "t0.bin");
        row("no image", "empty.bin", {firmware(77, 1, 0, 0, 0)}, "empty.bin");
        row("two files for one type", "old.bin new.bin", {firmware(77, 2, 0, 3, 64), tunex},
            "old.bin");
        row("nothing but hidden files", ".a.bin", {core}, "no firmware files");
    }
    void firmwareDir()
    {
        QFETCH(QStringList, names);
        QFETCH(QList<QByteArray>, contents);
        QFETCH(QString, error);
        QTemporaryDir dir;
        for (int i = 0; i < names.size(); ++i) {
            QVERIFY(QDir(dir.path()).mkpath(QFileInfo(names[i]).path()));
            QVERIFY(zoWriteFile(dir.filePath(names[i]), contents[i]));
        }
        QList<ZoFirmwareFolder::File> files;
        QString why;
        const bool ok
            = ZoFirmwareFolder::read(dir.path(), ZoTransferSession::MaxImageBytes, files, &why);
        QVERIFY2(ok == error.isEmpty(), qPrintable(why));
        if (!ok) {
            QVERIFY2(why.contains(error), qPrintable(why));
            QVERIFY(files.isEmpty());
            return;
        }
        // What goes into the store: fid and version from the header, the
        // whole file as data.
        const QList<ZoFRMFileInfo> records = ZoFirmwareFolder::records(files);
        QCOMPARE(records.size(), 2);
        QCOMPARE(int(records[0].fid), 80);
        QCOMPARE(ZoCliDevice::versionText(records[0].version), QStringLiteral("1.8.2"));
        QCOMPARE(int(records[1].fid), 77);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(records[i].bytes(), contents[i]);
    }

    // The exit code over what the engine said of each device: its result
    // (up, nc, fail, skip, ok), "due" when it was due. A confirmed run, a
    // failed transfer and a device that did not come back are the upgrade
    // runs' below, an interrupted one the interrupted runs'.
    void outcome_data()
    {
        QTest::addColumn<bool>("runOk");
        QTest::addColumn<QString>("devices");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("historyLost");
        QTest::newRow("not confirmed beside a confirmed one")
            << true << "nc due;up due" << int(Runner::ExitNotVerified) << false;
        QTest::newRow("not confirmed beside a failed one")
            << false << "nc due;fail due" << int(Runner::ExitUpgradeFailed) << false;
        QTest::newRow("not confirmed, the run failed")
            << false << "nc due" << int(Runner::ExitUpgradeFailed) << false;
        QTest::newRow("due but left out of a good run")
            << true << "skip due;ok" << int(Runner::ExitUpgradeFailed) << false;
        QTest::newRow("nothing due, one without a target")
            << true << "ok;skip" << int(Runner::ExitSuccess) << false;
        // A flash that is not on record does not look clean; a failure
        // stays the failure.
        QTest::newRow("upgraded, history lost")
            << true << "up due" << int(Runner::ExitHistory) << true;
        QTest::newRow("not confirmed, history lost")
            << true << "nc due;up due" << int(Runner::ExitHistory) << true;
        QTest::newRow("failed, history lost")
            << false << "fail due" << int(Runner::ExitUpgradeFailed) << true;
    }
    void outcome()
    {
        QFETCH(bool, runOk);
        QFETCH(QString, devices);
        using Result = ZoDeviceOutcome::Result;
        const QMap<QString, Result> results {{QStringLiteral("up"), Result::Upgraded},
            {QStringLiteral("nc"), Result::NotConfirmed}, {QStringLiteral("fail"), Result::Failed},
            {QStringLiteral("skip"), Result::Skipped}, {QStringLiteral("ok"), Result::UpToDate}};
        QList<ZoCliDevice> list;
        for (const QString &entry : devices.split(QLatin1Char(';'))) {
            ZoCliDevice d;
            d.outcome.result = results.value(entry.section(QLatin1Char(' '), 0, 0));
            d.due = entry.endsWith(QLatin1String(" due"));
            list << d;
        }
        QFETCH(bool, historyLost);
        QTEST(Runner::upgradeExitCode(runOk, list, historyLost), "exitCode");
    }

    // Several aircraft end with the worst of their codes: a stop from
    // outside, then refusals (the lock's after a usage error), then failures.
    void fleetExitCode()
    {
        QCOMPARE(ZoCliFleet::worstExitCode({0, 1, 8, 5}), int(Runner::ExitLockRefused));
        QCOMPARE(ZoCliFleet::worstExitCode({8, 2}), int(Runner::ExitUsage));
        QCOMPARE(ZoCliFleet::worstExitCode({8, 130}), int(Runner::ExitInterrupted));
        QCOMPARE(ZoCliFleet::worstExitCode({0, 42}), int(Runner::ExitUpgradeFailed));
    }

    // Runs that end before any aircraft is reached.
    void earlyExit_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("says"); // on stderr, or on stdout for exit 0
        QTest::addColumn<QString>("result"); // the report's, empty: no report
        const QString dead = QStringLiteral("tcp:127.0.0.1:%1").arg(ZoTestAircraftSim::deadPort());
        auto row = [](const char *name, const QString &args, int exitCode, const QString &says,
                       const char *result = "") {
            QTest::newRow(name) << args.split(QLatin1Char(' ')) << exitCode << says
                                << QString::fromLatin1(result);
        };
        row("help", "--help", 0, "5  upgraded, but not every");
        row("bad link", "--link udp:1.2.3", 2, "--link udp:1.2.3");
        row("unusable firmware file", "--link " + dead + " --firmware @broken", 4,
            "broken.bin: the header announces 512 image bytes, the file holds 252",
            "firmware-unusable");
        row("nothing listening", "--link " + dead, 3, "cannot open " + dead, "not-found");
    }
    void earlyExit()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, says);
        QFETCH(QString, result);
        QTemporaryDir broken;
        QVERIFY(zoWriteFile(
            broken.filePath(QStringLiteral("broken.bin")), firmware(80, 1, 8, 2, 512).left(300)));
        args.replaceInStrings(QStringLiteral("@broken"), broken.path());
        QElapsedTimer clock;
        clock.start();
        const CliRun r = runCli(args, QStringLiteral("http://127.0.0.1:1"), 30000);
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.dump()));
        QVERIFY2((exitCode == 0 ? r.out : r.err).contains(says), qPrintable(r.dump()));
        // None of these has anything to wait for.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(r.dump()));
        if (result.isEmpty()) {
            QVERIFY(r.report.isEmpty());
        } else {
            QCOMPARE(zoText(r.report, "result"), result);
            QCOMPARE(zoNum(r.report, "exitCode"), exitCode);
            QVERIFY(r.report.value(QLatin1String("devices")).toArray().isEmpty());
        }
    }

    void list_data()
    {
        QTest::addColumn<QString>("branch");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("type"); // the branch type the cloud was asked for
        QTest::addColumn<QStringList>("faults");
        QTest::newRow("stable") << QStringLiteral("stable") << 0 << 1 << QStringList();
        QTest::newRow("no dev catalogue") << QStringLiteral("dev") << 4 << 2 << QStringList();
        // The core's file takes longer than the run's own catalogue bound,
        // never going quiet for the cloud client's timeout.
        QTest::newRow("slow download")
            << QStringLiteral("stable") << 0 << 1
            << QStringList {
                   QStringLiteral("/files/emba2-80.bin:rate=%1")
                       .arg(m_core.size() * 1000 / (ZoCliRunner::CatalogueBoundMs + 4000))};
    }
    void list()
    {
        QFETCH(QString, branch);
        QFETCH(int, exitCode);
        QFETCH(int, type);
        QFETCH(QStringList, faults);
        ZoTestCloudSim cloud;
        QVERIFY(startCloud(cloud, faults));
        ZoTestAircraftSim aircraft;
        QVERIFY(aircraft.start(ZoTestAircraftSim::Tcp, m_scenario));
        QElapsedTimer clock;
        clock.start();
        // The slow row lists every module the family may carry.
        const bool verbose = !faults.isEmpty();
        QStringList args {QStringLiteral("--link"),
            QStringLiteral("tcp:127.0.0.1:%1").arg(aircraft.port), QStringLiteral("--branch"),
            branch};
        if (verbose)
            args << QStringLiteral("--verbose");
        const CliRun r = runCli(args, cloud.baseUrl(), 90000);
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.dump()));
        if (!faults.isEmpty())
            QVERIFY(clock.elapsed() > ZoCliRunner::CatalogueBoundMs);
        QCOMPARE(zoNum(r.report, "exitCode"), exitCode);

        const QList<QJsonObject> asked = cloud.requests();
        QVERIFY(!asked.isEmpty());
        for (const QJsonObject &q : asked)
            if (zoText(q, "path") == QLatin1String("/app/api/user/firmware/getFirmware")) {
                const QJsonObject body = q.value(QLatin1String("body")).toObject();
                QCOMPARE(zoNum(body, "fid"), 80);
                QCOMPARE(zoNum(body, "type"), type);
            }
        // A list flashes nothing.
        QVERIFY(aircraft.events("transfer").isEmpty());
        if (exitCode != 0) {
            QCOMPARE(zoText(r.report, "result"), QStringLiteral("catalogue-failed"));
            return;
        }
        QVERIFY2(r.out.contains(QRegularExpression(QStringLiteral(
                     "Tunex tuning module +77 +1 +1 +answering +1\\.0\\.4 +2\\.0\\.4 +yes"))),
            qPrintable(r.out));
        QCOMPARE(fields(r.report.value(QLatin1String("core")).toObject(), "type eid compileTime"),
            QStringLiteral("80|3A0F2C5D00170043|2024-05-17 13:45:09"));
        const char *const listed = "versionBefore target upgradeDue result state deviceNumber";
        QCOMPARE(
            fields(r.device(77), listed), QStringLiteral("1.0.4|2.0.4|true|skipped|answering|1"));
        QVERIFY(fields(r.device(80), listed)
                    .startsWith(QLatin1String("1.7.5|1.8.2|true|skipped|answering|")));
        // The compass the core family carries is not on board: on record as
        // silent; in the table one of the optional modules told as one line,
        // unless all are asked for.
        QCOMPARE(fields(r.device(38), "upgradeDue state"), QStringLiteral("false|not answering"));
        const QRegularExpression compass(QStringLiteral(" 38 +0 +- +not answering"));
        const QRegularExpression folded(QStringLiteral("\\d+ optional modules did not answer"));
        QVERIFY2(r.out.contains(compass) == verbose && r.out.contains(folded) == !verbose,
            qPrintable(r.out));
    }

    // The program copied alone into an empty folder, its settings in the
    // user's own: the texts come from inside it, in either language. No key
    // shows where a name belongs and no text misses its places, also when
    // nothing answers and the journal names a core left in its bootloader.
    void dictionaries_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("tunex"); // the tuning module's name
        QTest::newRow("English") << QStringLiteral("en_US")
                                 << QStringLiteral("Tunex tuning module");
        QTest::newRow("Chinese") << QStringLiteral(
            "zh_CN") << QString::fromUtf8("Tunex \xe8\xb0\x83\xe5\x8f\x82\xe6\xa8\xa1\xe5\x9d\x97");
    }
    void dictionaries()
    {
        QFETCH(QString, language);
        QFETCH(QString, tunex);
        QTemporaryDir home;
        const QString field = home.filePath(QStringLiteral("field"));
        const QString config = home.filePath(QStringLiteral(".config/tolvane/"));
        QVERIFY(QDir().mkpath(field));
        QVERIFY(QFile::copy(QStringLiteral(TOLVANE_CLI), field + QStringLiteral("/tolvane-cli")));
        QVERIFY(zoWriteFile(config + QStringLiteral("sysconfig.xml"),
            zoTestSysConfig(QStringLiteral("~"), language)));
        QVERIFY(zoWriteFile(config + QStringLiteral("busdevcfg.xml"),
            "<busdevcfg><tunex><NodeId>1</NodeId></tunex></busdevcfg>\n"));
        QVERIFY(zoWriteFile(config + QStringLiteral("runjournal.json"),
            ZoRunJournal::serialize({ZoRunJournal::entering(
                QStringLiteral("3A0F2C5D00170043"), ZoDeviceKey(80), 80, 0, true)})));
        ZoTestCloudSim cloud;
        QVERIFY(startCloud(cloud));
        ZoTestAircraftSim aircraft;
        QVERIFY(aircraft.start(ZoTestAircraftSim::Tcp, m_scenario));
        QProcessEnvironment env = environment(cloud.baseUrl());
        env.insert(QStringLiteral("HOME"), home.path());
        for (const char *xdg : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
            env.remove(QString::fromLatin1(xdg));
        QString output;
        for (const QString &args :
            {QStringLiteral("--link udp:127.0.0.1:%1").arg(ZoTestAircraftSim::deadPort()),
                QStringLiteral("--link tcp:127.0.0.1:%1").arg(aircraft.port),
                QStringLiteral("--help")}) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(field);
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(field + QStringLiteral("/tolvane-cli"), args.split(QLatin1Char(' ')));
            QVERIFY(p.waitForFinished(90000));
            output += QString::fromUtf8(p.readAll());
        }
        QVERIFY2(output.contains(tunex), qPrintable(output));
        // Its last column right-aligned, each table line is as wide as its head.
        const QRegularExpressionMatch table
            = QRegularExpression(QStringLiteral("\n(  NAME .*)\n(?:.*\n)*?(  ")
                + QRegularExpression::escape(tunex) + QStringLiteral(" .*)\n"))
                  .match(output);
        QVERIFY2(table.hasMatch(), qPrintable(output));
        QCOMPARE(ZoCliPrinter::displayWidth(table.captured(2)),
            ZoCliPrinter::displayWidth(table.captured(1)));
        // Started by its whole path, it still names itself as it is typed.
        QVERIFY(output.contains(QLatin1String("\nUsage: tolvane-cli [options]\n")));
        static const QRegularExpression key(QStringLiteral("\\b(Msg|Lab|Lit|Btn|Wnd)[A-Z]"));
        QVERIFY2(!output.contains(key), qPrintable(output));
        QVERIFY2(!output.contains(QLatin1String("QString::arg")), qPrintable(output));
    }

    // Upgrade runs; each flashes the module, then the core (or fails there).
    // A device left in its bootloader and found again is the crash sweep's.
    void upgrade_data()
    {
        QTest::addColumn<QString>("sim"); // the simulator's arguments
        QTest::addColumn<bool>("offline");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("coreResult");
        QTest::newRow("from the cloud, verified") << "" << false << 0 << "upgraded";
        QTest::newRow("core stalls")
            << "--fault core:stall-after-blocks=3" << false << 1 << "failed";
        // The core restarts for longer than the engine waits for it.
        QTest::newRow("offline, core silent after the flash")
            << "--reboot-ms 45000" << true << 5 << "not confirmed";
    }
    void upgrade()
    {
        QFETCH(QString, sim);
        const QStringList simArgs = sim.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QFETCH(bool, offline);
        QFETCH(int, exitCode);
        QFETCH(QString, coreResult);
        ZoTestCloudSim cloud;
        QVERIFY(startCloud(cloud));
        ZoTestAircraftSim aircraft;
        QVERIFY(aircraft.start(ZoTestAircraftSim::Tcp, m_scenario, simArgs));
        QStringList args {QStringLiteral("--link"),
            QStringLiteral("tcp:127.0.0.1:%1").arg(aircraft.port), QStringLiteral("--upgrade")};
        if (offline)
            args << QStringLiteral("--firmware") << m_firmwareDir;
        const CliRun r = runCli(args, cloud.baseUrl(), 150000);
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.dump()));
        QCOMPARE(zoNum(r.report, "exitCode"), exitCode);
        QCOMPARE(zoText(r.report, "mode"), QStringLiteral("upgrade"));

        struct Expect
        {
            int type;
            const char *simName;
            const char *target;
            QByteArray file;
            QString result;
        };
        const QList<Expect> expected {{77, "77.1", "2.0.4", m_tunex, QStringLiteral("upgraded")},
            {80, "core", "1.8.2", m_core, coreResult}};
        QStringList reported;
        for (const Expect &e : expected) {
            const QJsonObject d = r.device(e.type);
            const QString dev = QLatin1String(e.simName);
            QCOMPARE(zoText(d, "result"), e.result);
            QCOMPARE(zoText(d, "state"), QStringLiteral("answering"));
            QCOMPARE(zoText(d, "target"), QLatin1String(e.target));
            QCOMPARE(zoText(d, "sha256").toLatin1(),
                QCryptographicHash::hash(e.file, QCryptographicHash::Sha256).toHex());
            // What the simulator accepted is what the report counts.
            const int received
                = aircraft.events("request", dev, QStringLiteral("dataBlock")).size();
            const QList<QJsonObject> verify = aircraft.events("verify", dev);
            if (e.result == QLatin1String("failed")) {
                // Three blocks taken, the fourth sent and resent until the
                // engine gives up.
                QCOMPARE(received, 3);
                QCOMPARE(zoNum(d, "resends"), int(ZoTransferSession::MaxResends));
                QCOMPARE(zoNum(d, "blocksSent"), received + 1 + zoNum(d, "resends"));
                QVERIFY(verify.isEmpty());
                QCOMPARE(d.value(QLatin1String("versionAfter")).type(), QJsonValue::Null);
                continue;
            }
            QCOMPARE(zoNum(d, "blocksSent"), received);
            QCOMPARE(zoNum(d, "resends"), 0);
            reported << QStringLiteral("%1 %2").arg(e.type).arg(QLatin1String(e.target));
            // The image as the file holds it, from the cloud or the folder;
            // how it arrives under faults is the engine's test.
            QCOMPARE(verify.size(), 1);
            QCOMPARE(zoText(verify[0], "headerVersion"),
                QStringLiteral("%1:%2").arg(e.type).arg(QLatin1String(e.target)));
            QCOMPARE(zoText(verify[0], "sha256").toLatin1(), imageDigest(e.file));
            const bool verified = e.result == QLatin1String("upgraded");
            QCOMPARE(d.value(QLatin1String("verified")).toBool(), verified);
            if (verified)
                QCOMPARE(zoText(d, "versionAfter"), QLatin1String(e.target));
            else if (exitCode == 5)
                QCOMPARE(d.value(QLatin1String("versionAfter")).type(), QJsonValue::Null);
        }
        // Each transfer is on record as the run ended it, chained to the one
        // before.
        QVERIFY(r.historyVerifies);
        QCOMPARE(r.history.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            const ZoFlashHistory::Row &h = r.history[i];
            const QString result = expected[i].result;
            QCOMPARE(h.type, expected[i].type);
            QCOMPARE(h.target, QLatin1String(expected[i].target));
            QCOMPARE(h.result, result);
            QCOMPARE(h.failure,
                QLatin1String(result == QLatin1String("failed")    ? "block time-out at block 3"
                        : result == QLatin1String("not confirmed") ? "silent"
                                                                   : ""));
            QCOMPARE(h.sha256.toLatin1(),
                QCryptographicHash::hash(expected[i].file, QCryptographicHash::Sha256).toHex());
            QCOMPARE(h.source, offline ? QStringLiteral("folder") : QStringLiteral("stable"));
            QCOMPARE(h.link, QStringLiteral("tcp:127.0.0.1:%1").arg(aircraft.port));
            QCOMPARE(h.eid, QStringLiteral("3A0F2C5D00170043"));
        }
        // Version reports go to the cloud for each flashed device, and never
        // from an offline run, which asks the cloud nothing at all.
        QStringList told;
        for (const QJsonObject &q : cloud.requests()) {
            QVERIFY2(!offline, qPrintable(zoText(q, "path")));
            if (zoText(q, "path") == QLatin1String("/app/api/user/machineInfo/editVersion")) {
                const QJsonObject body = q.value(QLatin1String("body")).toObject();
                told << QStringLiteral("%1 %2").arg(zoText(body, "fid"), zoText(body, "version"));
            }
        }
        if (!offline)
            QCOMPARE(told, reported);
    }

    // Flashed up twice, then taken back: the tuning module ends on the image
    // the first run confirmed, as the simulator's own digest says, on record
    // as a rollback. Asked without --yes by a script, or for another EID,
    // nothing is sent.
    void rollback()
    {
        const QByteArray newer = firmware(77, 2, 1, 0, 2048);
        ZoTestCloudSim cloud;
        // The core is offered what it runs, so only the module is due.
        const auto offer = [&cloud](
                               const char *version, const char *file, const QByteArray &bytes) {
            return cloud.writeFile(QLatin1String("files/") + QLatin1String(file), bytes)
                && cloud.writeFile(QStringLiteral("files/core.bin"), firmware(80, 1, 7, 5, 4096))
                && cloud.writeFile(QStringLiteral("catalog.json"),
                    QStringLiteral(R"({"catalogues": [{"fid": 80, "branch": 1, "firmwares": [
                        {"fid": 80, "version": "1.7.5", "upgradeFile": "core.bin"},
                        {"fid": 77, "nickNameEn": "Tuning module", "version": "%1",
                         "upgradeFile": "%2"}]}]})")
                        .arg(QLatin1String(version), QLatin1String(file))
                        .toUtf8());
        };
        QVERIFY(offer("2.0.4", "tunex-77.bin", m_tunex) && cloud.start(false, {}));
        ZoTestAircraftSim aircraft;
        QVERIFY(aircraft.start(ZoTestAircraftSim::Tcp, m_scenario));
        QTemporaryDir station;
        const QStringList link {
            QStringLiteral("--link"), QStringLiteral("tcp:127.0.0.1:%1").arg(aircraft.port)};
        const auto cli = [&](const QString &args) {
            return runCli(
                link + args.split(QLatin1Char(' ')), cloud.baseUrl(), 120000, {}, station.path());
        };
        const auto blocks = [&aircraft] {
            return aircraft.events("request", QStringLiteral("77.1"), QStringLiteral("dataBlock"))
                .size();
        };
        CliRun r = cli(QStringLiteral("--upgrade"));
        QVERIFY2(r.exitCode == 0, qPrintable(r.dump()));
        QVERIFY(offer("2.1.0", "tunex-77-210.bin", newer));
        r = cli(QStringLiteral("--upgrade"));
        QVERIFY2(r.exitCode == 0, qPrintable(r.dump()));
        QCOMPARE(r.history.size(), 2);
        const int sent = blocks();

        for (const char *refused : {"--rollback", "--rollback --yes --eid 3A0F2C5D00170099"}) {
            r = cli(QLatin1String(refused));
            QVERIFY2(r.exitCode == ZoCliRunner::ExitRollbackRefused, qPrintable(r.dump()));
            QCOMPARE(blocks(), sent);
            QCOMPARE(r.history.size(), 2);
        }
        QVERIFY2(r.err.contains(QLatin1String("3A0F2C5D00170099"))
                && r.err.contains(QLatin1String("3A0F2C5D00170043")),
            qPrintable(r.err));

        r = cli(QStringLiteral("--rollback --yes"));
        QVERIFY2(r.exitCode == 0, qPrintable(r.dump()));
        QVERIFY2(r.out.contains(QStringLiteral("77.1: 2.1.0 → 2.0.4")), qPrintable(r.out));
        QCOMPARE(zoText(r.report, "mode"), QStringLiteral("rollback"));
        const QList<QJsonObject> verify = aircraft.events("verify", QStringLiteral("77.1"));
        QCOMPARE(verify.size(), 3);
        QCOMPARE(zoText(verify.last(), "headerVersion"), QStringLiteral("77:2.0.4"));
        QCOMPARE(zoText(verify.last(), "sha256").toLatin1(), imageDigest(m_tunex));
        QVERIFY(r.historyVerifies);
        QCOMPARE(r.history.size(), 3);
        const ZoFlashHistory::Row &back = r.history.last();
        QCOMPARE(back.source, QStringLiteral("rollback"));
        QCOMPARE(back.before + QLatin1Char('>') + back.confirmed, QStringLiteral("2.1.0>2.0.4"));
        QCOMPARE(back.sha256, r.history.first().sha256);
        QVERIFY(!back.run.isEmpty() && back.run != r.history[1].run
            && r.history[0].run != r.history[1].run);
        QCOMPARE(zoText(cloud.requests().last().value(QLatin1String("body")).toObject(), "version"),
            QStringLiteral("2.0.4"));
    }

    // A campaign pinned on a pilot aircraft; then the cloud serves the tuning
    // module's file with one byte changed under the same version. With the
    // lock the next aircraft is refused before anything is flashed; without
    // it, it is warned (the station's history flashed other bytes as 2.0.4)
    // and flashed.
    void pinnedCampaign()
    {
        ZoTestCloudSim cloud;
        QVERIFY(startCloud(cloud));
        ZoTestAircraftSim pilot, next;
        QVERIFY(pilot.start(ZoTestAircraftSim::Tcp, m_scenario));
        QVERIFY(next.start(ZoTestAircraftSim::Tcp, m_second));
        QTemporaryDir station;
        const QString lockPath = station.filePath(QStringLiteral("campaign.json"));
        const auto run = [&](const ZoTestAircraftSim &aircraft, const char *more) {
            return runCli(QStringList {QStringLiteral("--link"),
                              QStringLiteral("tcp:127.0.0.1:%1").arg(aircraft.port),
                              QStringLiteral("--upgrade")}
                    + QString::fromLatin1(more)
                          .replace(QLatin1String("%1"), lockPath)
                          .split(QLatin1Char(' '), Qt::SkipEmptyParts),
                cloud.baseUrl(), 150000, {}, station.path());
        };
        const auto sha = [](const QByteArray &file) {
            return QString::fromLatin1(
                QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex());
        };
        CliRun r = run(pilot, "--write-lock %1");
        QVERIFY2(r.exitCode == 0, qPrintable(r.dump()));
        ZoCampaignGuard::Pins pins;
        QVERIFY(ZoCliLock::read(lockPath, pins, nullptr));
        QCOMPARE(pins,
            (ZoCampaignGuard::Pins {{77, QStringLiteral("2.0.4"), m_tunex.size(), sha(m_tunex)},
                {80, QStringLiteral("1.8.2"), m_core.size(), sha(m_core)}}));

        QByteArray changed = m_tunex;
        changed[48 + 100] = char(changed[48 + 100] ^ 1);
        QVERIFY(cloud.writeFile(QStringLiteral("files/tunex-77.bin"), changed));
        const QString tunex = QStringLiteral("Tunex tuning module (type 77, device 1): ");
        const QString warning = tunex
            + QStringLiteral("WARNING: version 2.0.4 is served as SHA-256 %1, but this station "
                             "flashed version 2.0.4 before as SHA-256 %2")
                  .arg(sha(changed), sha(m_tunex));
        r = run(next, "--lock %1");
        QVERIFY2(r.exitCode == ZoCliRunner::ExitLockRefused, qPrintable(r.dump()));
        QCOMPARE(zoText(r.report, "result"), QStringLiteral("lock-refused"));
        QVERIFY2(r.err.contains(tunex
                     + QStringLiteral("REFUSED by the lock: expected version 2.0.4, 2096 bytes, "
                                      "SHA-256 %1; served: version 2.0.4, 2096 bytes, SHA-256 %2")
                           .arg(sha(m_tunex), sha(changed)))
                && r.err.contains(warning),
            qPrintable(r.err));
        QVERIFY(next.events("transfer").isEmpty());
        QVERIFY(
            next.events("request", QStringLiteral("77.1"), QStringLiteral("dataBlock")).isEmpty());

        r = run(next, "");
        QVERIFY2(r.exitCode == 0 && r.err.contains(warning), qPrintable(r.dump()));
        const QList<QJsonObject> verify = next.events("verify", QStringLiteral("77.1"));
        QCOMPARE(verify.size(), 1);
        QCOMPARE(zoText(verify[0], "sha256").toLatin1(), imageDigest(changed));
    }

    // The flash history as --history prints it, from a portable folder:
    // filtered by aircraft, device and date, in each format; a row changed
    // afterwards is named by --verify, and fails it.
    void history()
    {
        QTemporaryDir dir;
        QVERIFY(zoWriteFile(dir.filePath(QStringLiteral("busdevcfg.xml")), "<busdevcfg/>\n"));
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        {
            ZoFlashHistory h(path);
            QVERIFY(h.open());
            for (const char *at :
                {"A1 77 1 2026-11-02", "A1 80 0 2026-11-03", "B2 77 1 2026-11-04"}) {
                const QStringList f = QString::fromLatin1(at).split(QLatin1Char(' '));
                ZoFlashHistory::Row row;
                row.time = QDateTime(QDate::fromString(f[3], Qt::ISODate), QTime(9, 0), Qt::UTC);
                row.eid = f[0];
                row.type = f[1].toInt();
                row.number = f[2].toInt();
                row.failure = QStringLiteral("a \"quoted\", failure");
                QVERIFY(h.append(row));
            }
        }
        auto cli = [&dir](const QString &args, int code) {
            QProcess p;
            p.setWorkingDirectory(dir.path());
            p.start(QStringLiteral(TOLVANE_CLI), args.split(QLatin1Char(' ')));
            const bool ended = p.waitForFinished(10000) && p.exitCode() == code;
            const QString out
                = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
            return ended ? out : QStringLiteral("exit %1: %2").arg(p.exitCode()).arg(out);
        };
        const QStringList csv
            = cli(QStringLiteral("--history --eid A1 --since 2026-11-03 --format csv"), 0)
                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(csv.size(), 2);
        QVERIFY2(
            csv[1].startsWith(QLatin1String("2,2026-11-03T09:00:00.000Z,")), qPrintable(csv[1]));
        QVERIFY2(
            csv[1].contains(QLatin1String(",\"a \"\"quoted\"\", failure\",")), qPrintable(csv[1]));
        const QJsonArray json = QJsonDocument::fromJson(
            cli(QStringLiteral("--history --device 77.1 --format json"), 0).toUtf8())
                                    .array();
        QCOMPARE(json.size(), 2);
        QCOMPARE(zoText(json[1].toObject(), "eid"), QStringLiteral("B2"));
        QVERIFY(cli(QStringLiteral("--history --verify"), 0).contains(QLatin1String("3 rows")));
        const auto edit = [&path](const QString &sql) {
            bool done = false;
            {
                QSqlDatabase db
                    = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("edit"));
                db.setDatabaseName(path);
                done = db.open() && QSqlQuery(db).exec(sql);
            }
            QSqlDatabase::removeDatabase(QStringLiteral("edit"));
            return done;
        };
        QVERIFY(edit(QStringLiteral("UPDATE flash SET target = '9.9.9' WHERE id = 2")));
        const QString broken = cli(QStringLiteral("--history --verify"), ZoCliRunner::ExitHistory);
        QVERIFY2(broken.contains(QLatin1String("at row 2")), qPrintable(broken));
        QVERIFY(edit(QStringLiteral("ALTER TABLE flash RENAME COLUMN target TO aim")));
        // A file that opens but cannot be read is no empty history.
        const QString unread = cli(QStringLiteral("--history"), ZoCliRunner::ExitHistory);
        QVERIFY2(unread.contains(QLatin1String("cannot be read")), qPrintable(unread));
        // Reading changes nothing on disk: a damaged file is refused, not set
        // aside; an empty one holds no rows and is not made a history.
        for (const auto &[bytes, args, code] :
            {std::tuple(QByteArray(4096, 'x'), "--history", int(Runner::ExitHistory)),
                std::tuple(QByteArray(), "--history --verify", 0)}) {
            for (const char *side : {"-wal", "-shm"})
                QFile::remove(path + QLatin1String(side));
            QVERIFY(zoWriteFile(path, bytes));
            const QString said = cli(QString::fromLatin1(args), code);
            QVERIFY2(!said.startsWith(QLatin1String("exit ")), qPrintable(said));
            QCOMPARE(zoReadFile(path), bytes);
        }
        QVERIFY(!QFile::exists(path + QStringLiteral(".bad")));
    }

    // Cells as a terminal draws them: CJK and fullwidth characters two,
    // combining marks none.
    void displayWidth()
    {
        const std::pair<const char *, int> cases[]
            = {{"not answering", 13}, {"\xe8\xb0\x83\xe5\x8f\x82", 4}, {"Tunex \xe8\xb0\x83", 8},
                {"\xef\xbc\x88\xe3\x80\x82\xef\xbc\x89", 6}, {"e\xcc\x81", 1}};
        for (const auto &[text, cells] : cases)
            QCOMPARE(ZoCliPrinter::displayWidth(QString::fromUtf8(text)), cells);
    }

    // Several aircraft at once, one TCP and one UDP: each is flashed with
    // its own images, a failure on one leaves the other to complete (also
    // when it has to wait for the failed one's slot), and two links to one
    // aircraft (one EID) flash nothing at all, nor does an aircraft that
    // never tells its EID.
    void fleet_data()
    {
        QTest::addColumn<bool>("sameAircraft"); // the second link reaches the first's EID
        QTest::addColumn<QString>("firstSim"); // the first simulator's arguments
        QTest::addColumn<int>("jobs"); // 0: all at once
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QList<int>>("codes");
        QTest::newRow("both upgraded") << false << "" << 0 << 0 << QList<int> {0, 0};
        QTest::newRow("one core stalls, one aircraft at a time")
            << false << "--fault core:stall-after-blocks=3" << 1 << 1 << QList<int> {1, 0};
        QTest::newRow("same aircraft twice") << true << "" << 0 << 2 << QList<int> {2, 2};
        QTest::newRow("an aircraft without an EID")
            << false << "--fault core:no-identity" << 0 << 2 << QList<int> {2, 0};
    }
    void fleet()
    {
        QFETCH(bool, sameAircraft);
        QFETCH(QString, firstSim);
        QFETCH(int, jobs);
        QFETCH(int, exitCode);
        QFETCH(QList<int>, codes);
        ZoTestCloudSim cloud;
        QVERIFY(startCloud(cloud));
        ZoTestAircraftSim sims[2];
        QVERIFY(sims[0].start(ZoTestAircraftSim::Tcp, m_scenario,
            firstSim.split(QLatin1Char(' '), Qt::SkipEmptyParts)));
        QVERIFY(sims[1].start(ZoTestAircraftSim::Udp, sameAircraft ? m_scenario : m_second));
        const QStringList links {QStringLiteral("tcp:127.0.0.1:%1").arg(sims[0].port),
            QStringLiteral("udp:127.0.0.1:%1:%2").arg(sims[1].port).arg(sims[1].programUdpPort)};
        // Progress as JSON events, but for the refusal's run.
        const bool json = exitCode != 2;
        QStringList args {QStringLiteral("--link"), links[0], QStringLiteral("--link"), links[1],
            QStringLiteral("--upgrade")};
        if (json)
            args << QStringLiteral("--progress") << QStringLiteral("json");
        if (jobs > 0)
            args << QStringLiteral("--jobs") << QString::number(jobs);
        const CliRun r = runCli(args, cloud.baseUrl(), 200000);
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.dump()));
        QCOMPARE(zoNum(r.report, "exitCode"), exitCode);
        // Nothing but events on stdout, the fleet's verdict last.
        QList<QJsonObject> events;
        if (json) {
            for (const QString &line : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
                events << QJsonDocument::fromJson(line.toUtf8()).object();
                QVERIFY2(events.constLast().contains(QLatin1String("t")), qPrintable(line));
            }
            QCOMPARE(zoText(events.constLast(), "event"), QStringLiteral("finished"));
            QCOMPARE(zoText(events.constLast(), "link"), QString());
            QCOMPARE(zoNum(events.constLast(), "exitCode"), exitCode);
        }
        // One flashing slot: the second aircraft's first block waits for the
        // first aircraft's end, failed as it is.
        const auto firstT = [&](int i, const char *event) {
            for (const QJsonObject &e : events)
                if (zoText(e, "link") == links[i] && zoText(e, "event") == QLatin1String(event))
                    return zoNum(e, "t");
            return -1;
        };
        if (jobs == 1)
            QVERIFY2(firstT(0, "finished") >= 0 && firstT(1, "progress") > firstT(0, "finished"),
                qPrintable(r.out));
        // The engines' own log lines say whose they are.
        for (const QString &line : r.err.split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("tolvane.upgrade: ")))
                QVERIFY2(line.contains(QStringLiteral(": [%1] ").arg(links[0]))
                        || line.contains(QStringLiteral(": [%1] ").arg(links[1])),
                    qPrintable(line));
        const QJsonArray aircraft = r.report.value(QLatin1String("aircraft")).toArray();
        QCOMPARE(aircraft.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QJsonObject a = aircraft.at(i).toObject();
            QCOMPARE(zoText(a, "link"), links[i]);
            QCOMPARE(zoNum(a, "exitCode"), codes[i]);
            QVERIFY2((json ? r.err : r.out).contains(QStringLiteral("[%1] ").arg(links[i])),
                qPrintable(r.dump()));
            if (json && codes[i] == 0) {
                // A device's name is its key and number; each passes every
                // phase, marked whether its power may be cut ("+"). Where
                // the progress falls among them depends on the link's pace.
                QStringList seen;
                for (const QJsonObject &e : qAsConst(events)) {
                    if (zoText(e, "link") != links[i])
                        continue;
                    const QString ev = zoText(e, "event");
                    if (ev == QLatin1String("phase"))
                        seen << zoText(e, "phase")
                                + (e.value(QLatin1String("mayPowerOff")).toBool() ? "+" : "-");
                    else if (ev == QLatin1String("confirmed"))
                        seen << QStringLiteral("confirmed %1.%2")
                                    .arg(zoNum(e, "type"))
                                    .arg(zoNum(e, "number"));
                    else if (ev != QLatin1String("progress")
                        && (seen.isEmpty() || seen.constLast() != ev))
                        seen << ev;
                }
                const QString flash = QStringLiteral("entering- erasing- programming- leaving- "
                                                     "restarting+ confirming+ result confirmed");
                QCOMPARE(seen.join(QLatin1Char(' ')),
                    QStringLiteral("searching found catalogue device %1 77.1 %1 80.0 finished")
                        .arg(flash));
                QVERIFY(firstT(i, "progress") > 0);
            }
            const QStringList devs {QStringLiteral("77.1"), QStringLiteral("core")};
            for (const QString &dev : devs) {
                const int blocks
                    = sims[i].events("request", dev, QStringLiteral("dataBlock")).size();
                const QList<QJsonObject> verify = sims[i].events("verify", dev);
                if (codes[i] == 2) {
                    QCOMPARE(blocks, 0);
                    continue;
                }
                // Read back once, its own image only; the stalled core never.
                const bool stalled = codes[i] == 1 && dev == QLatin1String("core");
                QCOMPARE(verify.size(), stalled ? 0 : 1);
                if (!stalled)
                    QCOMPARE(zoText(verify[0], "sha256").toLatin1(),
                        imageDigest(dev == QLatin1String("core") ? m_core : m_tunex));
            }
        }
        if (exitCode == 2)
            QVERIFY2(r.err.contains(sameAircraft ? QStringLiteral("EID 3A0F2C5D00170043")
                                                 : QStringLiteral("never told its EID")),
                qPrintable(r.err));
    }

    // Ctrl-C stops every aircraft and still writes the record of all.
    void fleetInterrupted()
    {
        ZoTestCloudSim cloud;
        QVERIFY(startCloud(cloud));
        ZoTestAircraftSim sims[2];
        QVERIFY(sims[0].start(ZoTestAircraftSim::Tcp, m_scenario,
            {QStringLiteral("--fault"), QStringLiteral("core:stall-after-blocks=3")}));
        QVERIFY(sims[1].start(ZoTestAircraftSim::Tcp, m_second,
            {QStringLiteral("--fault"), QStringLiteral("core:stall-after-blocks=3")}));
        const auto blocks = [&](int i) {
            return sims[i]
                .events("request", QStringLiteral("core"), QStringLiteral("dataBlock"))
                .size();
        };
        bool stopped = false;
        const CliRun r = runCli(
            {QStringLiteral("--link"), QStringLiteral("tcp:127.0.0.1:%1").arg(sims[0].port),
                QStringLiteral("--link"), QStringLiteral("tcp:127.0.0.1:%1").arg(sims[1].port),
                QStringLiteral("--upgrade")},
            cloud.baseUrl(), 10000, [&](QProcess &p) {
                if (zoWaitFor([&] { return blocks(0) >= 3 && blocks(1) >= 3; }, 90000))
                    stopped = ::kill(pid_t(p.processId()), SIGINT) == 0;
            });
        QVERIFY2(stopped && r.exitCode == 130, qPrintable(r.dump()));
        QCOMPARE(zoNum(r.report, "exitCode"), 130);
        const QJsonArray aircraft = r.report.value(QLatin1String("aircraft")).toArray();
        QCOMPARE(aircraft.size(), 2);
        for (const QJsonValue &a : aircraft)
            QCOMPARE(zoText(a.toObject(), "result"), QStringLiteral("interrupted"));
        // Both cores left in their bootloaders, in the one journal the next
        // run of any kind reads.
        QStringList left;
        for (const ZoRunJournal::Entry &e : ZoRunJournal::parse(r.journal))
            if (e.core)
                left << e.eid;
        left.sort();
        QCOMPARE(left,
            (QStringList {QStringLiteral("3A0F2C5D00170043"), QStringLiteral("3A0F2C5D00170099")}));
    }

    // One station process serves one TCP link while aircraft are plugged in
    // and out on it: two upgraded one after the other, the first not again
    // while it stays; the third, whose core stalls, ends the trial batch
    // and closes the gate; the first, plugged in again, waits at the gate,
    // then is skipped; SIGTERM, while a sixth is flashed, ends that run as a
    // lone run is ended and the station with every aircraft in the report.
    // Meanwhile a serial adapter appears in its by-id folder with a fifth
    // aircraft, which is served there and leaves with the adapter.
    void station()
    {
        ZoTestCloudSim cloud;
        QVERIFY(startCloud(cloud));
        const quint16 port = ZoTestAircraftSim::deadPort();
        ZoTestAircraftSim sims[6];
        QTemporaryDir byId;
        QTemporaryDir pictures;
        sims[4].ptyPath = byId.filePath(QStringLiteral("usb-Sim_Aircraft_0055-if00-port0"));
        const auto plug = [&](int i, const QString &scenario, const QStringList &extra) {
            sims[i].tcpPort = port;
            return sims[i].start(ZoTestAircraftSim::Tcp, scenario, extra);
        };
        const auto unplug = [&](int i) {
            sims[i].process.terminate();
            return sims[i].process.waitForFinished(5000);
        };
        const auto coreBlocks = [&](int i) {
            return sims[i]
                .events("request", QStringLiteral("core"), QStringLiteral("dataBlock"))
                .size();
        };
        QString out;
        QList<QJsonObject> events;
        const auto seen = [&](QProcess &p, const char *event, int count) {
            return zoWaitFor(
                [&] {
                    out += QString::fromUtf8(p.readAllStandardOutput());
                    events.clear();
                    for (const QString &l : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                        events << QJsonDocument::fromJson(l.toUtf8()).object();
                    return std::count_if(events.cbegin(), events.cend(), [&](const QJsonObject &e) {
                        return zoText(e, "event") == QLatin1String(event);
                    }) >= count;
                },
                120000);
        };
        QStringList steps;
        const auto pause = [](int ms) {
            QTest::qWait(ms);
            return true;
        };
        const auto step = [&](bool ok, const char *what) {
            if (ok)
                steps << QLatin1String(what);
            return ok;
        };
        const CliRun r = runCli(
            QStringList {QStringLiteral("--station"), QStringLiteral("--link"),
                QStringLiteral("tcp:127.0.0.1:%1").arg(port), QStringLiteral("--leave-after"),
                QStringLiteral("1"), QStringLiteral("--first-batch"), QStringLiteral("4"),
                QStringLiteral("--serial-by-id"), byId.path(), QStringLiteral("--progress"),
                QStringLiteral("json")}
                + (ZoCliLabel::pngAvailable()
                        ? QStringList {QStringLiteral("--label-png"), pictures.path()}
                        : QStringList()),
            cloud.baseUrl(), 20000, [&](QProcess &p) {
                const QString third = QStringLiteral("3A0F2C5D00170077");
                (void)(step(plug(0, m_scenario, {})
                               && sims[4].start(ZoTestAircraftSim::Pty, m_scenario,
                                   {QStringLiteral("--eid"), QStringLiteral("3A0F2C5D00170055")})
                               && seen(p, "served", 2) && unplug(4),
                           "first served")
                    // Left plugged in for three times the silence that tells
                    // it has gone: it keeps talking, so it is not taken again.
                    && step(pause(3000), "first stays") && step(unplug(0), "first out")
                    && step(seen(p, "left", 2), "first left")
                    && step(plug(1, m_second, {}) && seen(p, "served", 3), "second served")
                    && step(unplug(1) && seen(p, "left", 3), "second left")
                    && step(plug(2, m_scenario,
                                {QStringLiteral("--eid"), third, QStringLiteral("--fault"),
                                    QStringLiteral("core:stall-after-blocks=3")})
                            && seen(p, "gateClosed", 1),
                        "gate closed")
                    && step(unplug(2) && seen(p, "left", 4), "third left")
                    && step(plug(3, m_scenario, {}) && seen(p, "arrived", 5), "first again")
                    && step(pause(1500), "held")
                    && step(::kill(pid_t(p.processId()), SIGUSR1) == 0 && seen(p, "skipped", 1),
                        "skipped")
                    && step(unplug(3) && seen(p, "left", 5), "first out again")
                    // Stopped while a sixth aircraft's core takes its image.
                    && step(plug(5, m_scenario,
                                {QStringLiteral("--eid"), QStringLiteral("3A0F2C5D00170088"),
                                    QStringLiteral("--fault"),
                                    QStringLiteral("core:stall-after-blocks=3")})
                            && zoWaitFor([&] { return coreBlocks(5) >= 3; }, 90000),
                        "sixth flashing")
                    && step(::kill(pid_t(p.processId()), SIGTERM) == 0, "terminated"));
            });
        out += r.out;
        QVERIFY2(steps.size() == 14, qPrintable(steps.join(QLatin1Char(',')) + r.dump()));
        // The run cut off by SIGTERM ends as a lone run would: its code.
        QVERIFY2(r.exitCode == 143, qPrintable(r.dump()));
        QCOMPARE(zoNum(r.report, "exitCode"), 143);
        QStringList order;
        QStringList serial;
        QStringList labels;
        int t = 0; // one time line for the station and every run it starts
        for (const QString &l : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QJsonObject e = QJsonDocument::fromJson(l.toUtf8()).object();
            const QString ev = zoText(e, "event");
            QVERIFY2(zoNum(e, "t") >= t, qPrintable(l));
            t = zoNum(e, "t");
            if (zoText(e, "link") == QLatin1String("serial:") + sims[4].ptyPath) {
                serial << ev;
                continue;
            }
            if (QStringList {QStringLiteral("arrived"), QStringLiteral("started"),
                    QStringLiteral("served"), QStringLiteral("left"), QStringLiteral("skipped"),
                    QStringLiteral("gateClosed"), QStringLiteral("gateOpened")}
                    .contains(ev))
                order << (ev == QLatin1String("started") || ev == QLatin1String("served")
                            || ev == QLatin1String("skipped")
                        ? ev + QLatin1Char(' ') + zoText(e, "eid").right(2)
                        : ev);
            if (ev == QLatin1String("served"))
                labels << zoText(e, "label");
        }
        QCOMPARE(order.join(QLatin1Char(' ')),
            QStringLiteral("arrived started 43 served 43 left arrived started 99 served 99 left "
                           "arrived started 77 served 77 gateClosed left arrived gateOpened "
                           "skipped 43 served 43 left arrived started 88 served 88"));
        QVERIFY2(serial.join(QLatin1Char(' ')).startsWith(QStringLiteral("arrived searching")),
            qPrintable(serial.join(QLatin1Char(' '))));
        QVERIFY2(serial.join(QLatin1Char(' ')).endsWith(QStringLiteral("served left")),
            qPrintable(serial.join(QLatin1Char(' '))));
        const QJsonObject last
            = QJsonDocument::fromJson(out.section(QLatin1Char('\n'), -2).toUtf8()).object();
        QCOMPARE(fields(last, "event result exitCode aircraft"),
            QStringLiteral("finished|terminated|143|6"));
        const QRegularExpression label(QStringLiteral(
            "^label eid=3A0F2C5D00170043 time=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ "
            "result=upgraded link=tcp:127\\.0\\.0\\.1:\\d+ 77\\.1=2\\.0\\.4/upgraded "
            "80\\.0=1\\.8\\.2/upgraded$"));
        QVERIFY2(label.match(labels.value(0)).hasMatch(), qPrintable(labels.join('\n')));
        checkLabelPicture(pictures.filePath(QStringLiteral("3A0F2C5D00170043-%1.png")
                                                .arg(labels[0]
                                                         .section(QLatin1Char(' '), 2, 2)
                                                         .mid(5)
                                                         .remove(QLatin1Char('-'))
                                                         .remove(QLatin1Char(':')))),
            labels[0]);
        QVERIFY2(QDir(pictures.path()).entryList({QStringLiteral("*.png")}).size()
                == (ZoCliLabel::pngAvailable() ? 6 : 0),
            qPrintable(r.err));
        QVERIFY2(
            labels.value(2).contains(QStringLiteral(" result=failed ")), qPrintable(labels[2]));
        QVERIFY2(
            labels.value(3).contains(QStringLiteral(" result=skipped ")), qPrintable(labels[3]));
        // Each core took one image, the first's despite its minutes on the
        // link; the one plugged in again none.
        QCOMPARE(sims[0].events("verify", QStringLiteral("core")).size(), 1);
        QCOMPARE(sims[1].events("verify", QStringLiteral("core")).size(), 1);
        QCOMPARE(coreBlocks(2), 3);
        QCOMPARE(coreBlocks(3), 0);
        QCOMPARE(coreBlocks(5), 3);
        QCOMPARE(sims[4].events("verify", QStringLiteral("core")).size(), 1);
        QStringList results;
        for (const QJsonValue &a : r.report.value(QLatin1String("aircraft")).toArray())
            results << zoText(a.toObject(), "result");
        results.sort();
        QCOMPARE(results.join(QLatin1Char(' ')),
            QStringLiteral("failed skipped terminated upgraded upgraded upgraded"));
        // Two history rows per aircraft flashed, the one cut off too, none for
        // the one skipped.
        QCOMPARE(r.history.size(), 10);
        QVERIFY(r.historyVerifies);
    }

    // Ctrl-C or a termination signal while the core is in its bootloader:
    // nothing more is sent, the report names the device left there, and the
    // exit code is the shell's for that signal. Stopped while the core
    // restarts, it is not said to be left there.
    void interrupted_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("readBack");
        QTest::newRow("Ctrl-C") << int(SIGINT) << 130 << QStringLiteral("interrupted") << false;
        QTest::newRow("terminated") << int(SIGTERM) << 143 << QStringLiteral("terminated") << false;
        QTest::newRow("Ctrl-C in read-back") << int(SIGINT) << 130 << QStringLiteral("interrupted")
                                             << true;
    }
    void interrupted()
    {
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        QFETCH(QString, result);
        QFETCH(bool, readBack);
        ZoTestCloudSim cloud;
        QVERIFY(startCloud(cloud));
        ZoTestAircraftSim aircraft;
        // The core takes three blocks and then falls silent: the engine
        // resends for seconds, long enough to be stopped mid-transfer. Or it
        // takes its image and restarts slowly.
        QVERIFY(aircraft.start(ZoTestAircraftSim::Tcp, m_scenario,
            readBack ? QStringList {QStringLiteral("--reboot-ms"), QStringLiteral("45000")}
                     : QStringList {QStringLiteral("--fault"),
                         QStringLiteral("core:stall-after-blocks=3")}));
        const auto blocks = [&] {
            return aircraft.events("request", QStringLiteral("core"), QStringLiteral("dataBlock"))
                .size();
        };
        const auto left = [&] {
            return !aircraft.events("request", QStringLiteral("core"), QStringLiteral("leaveBootloader"))
                        .isEmpty();
        };
        int sentBefore = -1;
        const CliRun r = runCli(
            {QStringLiteral("--link"), QStringLiteral("tcp:127.0.0.1:%1").arg(aircraft.port),
                QStringLiteral("--upgrade")},
            cloud.baseUrl(), 10000, [&](QProcess &p) {
                if (zoWaitFor([&] { return readBack ? left() : blocks() >= 3; }, 60000)) {
                    QTest::qWait(300);
                    sentBefore = blocks();
                    ::kill(pid_t(p.processId()), signal);
                }
            });
        if (readBack) {
            QVERIFY2(r.exitCode == exitCode, qPrintable(r.dump()));
            QVERIFY2(!r.err.contains(QStringLiteral("left in its bootloader")), qPrintable(r.err));
            QVERIFY2(r.err.contains(QStringLiteral("was not confirmed")), qPrintable(r.err));
            return;
        }
        QVERIFY2(sentBefore == 3, qPrintable(r.dump()));
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.dump()));
        QCOMPARE(zoText(r.report, "result"), result);
        QCOMPARE(zoNum(r.report, "exitCode"), exitCode);
        QCOMPARE(zoText(r.device(80), "result"), QStringLiteral("interrupted"));
        QCOMPARE(zoText(r.device(77), "result"), QStringLiteral("upgraded"));
        QVERIFY2(r.err.contains(QStringLiteral("left in its bootloader")), qPrintable(r.err));
        QCOMPARE(blocks(), sentBefore);
    }
};

QTEST_GUILESS_MAIN(TstTolvaneCli)
#include "tst_tolvanecli.moc"
