#include "ZoPlatform.h"
#include "ZoTestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Every process these tests end was started here, from a copy of a helper
// under a name no other process can carry.
class tst_ZoPlatform : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
    }

    void elevatedRestartParameters_data()
    {
        QTest::addColumn<bool>("elevated");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected"); // null: no restart

        // The program's path, then its arguments, separated by '|'.
        auto row = [](const char *name, bool elevated, const char *line, const char *expected) {
            const QStringList arguments = QString::fromLatin1(line).split(QLatin1Char('|'));
            QTest::newRow(name) << elevated << arguments.first() << arguments
                                << (expected ? QString::fromLatin1(expected) : QString());
        };
#define C "c:/Program Files/Tolvane/Tolvane.exe"
        row("drive c in lower case, no rights", false, C, "runas");
        row("the restarted copy does not restart again", false, C "|runas", nullptr);
        row("already elevated", true, C, nullptr);
        row("arguments with blanks pass unquoted", false, "C:/T/Tolvane.exe|a b|c", "runas a b c");
        row("runas later in the line still restarts", false, C "|x|runas", "runas x runas");
        row("only drive C asks", false, "/opt/tolvane/Tolvane", nullptr);
#undef C
    }
    void elevatedRestartParameters()
    {
        QFETCH(bool, elevated);
        QFETCH(QString, path);
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        const QString got = ZoPlatform::elevatedRestartParameters(elevated, path, arguments);
        QCOMPARE(got.isNull(), expected.isNull());
        QCOMPARE(got, expected);
    }

    void killEndsProcessesByName_data()
    {
        QTest::addColumn<bool>("ignoresTerm");
        QTest::addColumn<bool>("quoted");
        QTest::newRow("ends at SIGTERM") << false << false;
        QTest::newRow("quoted name, as the updater passes it") << false << true;
        QTest::newRow("ignores SIGTERM: SIGKILL after the grace") << true << false;
    }
    void killEndsProcessesByName()
    {
        QFETCH(bool, ignoresTerm);
        QFETCH(bool, quoted);
        const int graceMs = 1000;
        const QString name = uniqueName();
        const QString target = installAs(QStringLiteral(TOLVANE_PLATFORM_HELPER), name);
        // Same stem, other name: a prefix match would end it too.
        const QString bystander
            = installAs(QStringLiteral(TOLVANE_PLATFORM_HELPER), name + QStringLiteral("x"));
        QVERIFY(!target.isEmpty() && !bystander.isEmpty());
        const QString marks = m_dir->filePath(QStringLiteral("marks"));

        auto victim = startReady(target,
            {QStringLiteral("term"), marks,
                ignoresTerm ? QStringLiteral("ignore") : QStringLiteral("obey")});
        QVERIFY(victim);
        auto other = startReady(bystander,
            {QStringLiteral("term"), m_dir->filePath(QStringLiteral("other")),
                QStringLiteral("obey")});
        QVERIFY(other);

        QElapsedTimer t;
        t.start();
        const QString asked = quoted ? QLatin1Char('"') + name + QLatin1Char('"') : name;
        QVERIFY(ZoPlatform::killProcessesByName(asked, graceMs));
        const qint64 took = t.elapsed();

        QVERIFY(victim->waitForFinished(3000));
        // SIGTERM always comes first.
        QCOMPARE(zoReadFile(marks), QByteArray("TERM\n"));
        if (ignoresTerm) {
            QCOMPARE(victim->exitStatus(), QProcess::CrashExit);
            QVERIFY2(took >= graceMs, qPrintable(QString::number(took)));
        } else {
            QCOMPARE(victim->exitStatus(), QProcess::NormalExit);
            QCOMPARE(victim->exitCode(), 0);
            QVERIFY2(took < graceMs, qPrintable(QString::number(took)));
        }

        QCOMPARE(other->state(), QProcess::Running);
        QCOMPARE(zoReadFile(m_dir->filePath(QStringLiteral("other"))), QByteArray());
        other->kill();
        other->waitForFinished(3000);
    }

    void killSparesItself()
    {
        const QString name = uniqueName();
        const QString path = installAs(QStringLiteral(TOLVANE_PLATFORM_SELFKILL), name);
        QVERIFY(!path.isEmpty());
        auto sibling = startReady(path, {QStringLiteral("wait")});
        QVERIFY(sibling);

        QProcess killer;
        killer.start(path, {QStringLiteral("kill")});
        QVERIFY(killer.waitForFinished(10000));
        QCOMPARE(killer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(killer.exitCode(), 0);
        QCOMPARE(killer.readAllStandardOutput().trimmed(), QByteArray("alive 1"));
        QVERIFY(sibling->waitForFinished(3000));
    }

    void killWithoutMatchLeavesNothing()
    {
        QVERIFY(ZoPlatform::killProcessesByName(uniqueName(), 100));
        QVERIFY(!ZoPlatform::killProcessesByName(QString(), 100));
        QVERIFY(!ZoPlatform::killProcessesByName(QStringLiteral("\"\""), 100));
    }

    void startDetachedKeepsWorkingDirectory()
    {
        QTemporaryDir work;
        const QString appDir = m_dir->path();
        const QString name = uniqueName();
        QVERIFY(
            !installAs(QStringLiteral(TOLVANE_PLATFORM_HELPER), ZoPlatform::executableName(name))
                 .isEmpty());
        const QString out = m_dir->filePath(QStringLiteral("cwd.txt"));

        // Started from elsewhere: the program is found in the application
        // folder, not in the working directory. The name comes quoted, as the
        // updater receives it.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
        qint64 pid = 0;
        const bool started
            = ZoPlatform::startDetached(appDir, QLatin1Char('"') + name + QLatin1Char('"'),
                {QStringLiteral("cwd"), out}, work.path(), &pid);
        QDir::setCurrent(before);
        QVERIFY(started);
        QVERIFY(pid > 0);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 5000);
        QCOMPARE(QFileInfo(QString::fromLocal8Bit(zoReadFile(out))).canonicalFilePath(),
            QFileInfo(work.path()).canonicalFilePath());
    }

private:
    QString uniqueName() const
    {
        return QStringLiteral("zk%1").arg(
            QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    }

    // A copy of helper in the scratch folder, called name.
    QString installAs(const QString &helper, const QString &name)
    {
        const QString path = m_dir->filePath(name);
        if (!QFile::copy(helper, path))
            return QString();
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
        return path;
    }

    std::unique_ptr<QProcess> startReady(const QString &program, const QStringList &arguments)
    {
        auto p = std::make_unique<QProcess>();
        p->start(program, arguments);
        if (!p->waitForStarted(5000))
            return nullptr;
        QElapsedTimer t;
        t.start();
        while (!p->readAllStandardOutput().contains("ready")) {
            if (t.elapsed() > 5000 || !p->waitForReadyRead(5000))
                return nullptr;
        }
        return p;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(tst_ZoPlatform)
#include "tst_zoplatform.moc"
