#include "ZoBusDevCfg.h"
#include "ZoTestFiles.h"

#include <QDomDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

class tst_ZoBusDevCfg : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loadFile_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file; "<folder>": a folder in its place
        QTest::addColumn<bool>("result");
        QTest::addColumn<QList<tdu1>>("tunex");
        QTest::addColumn<QList<tdu1>>("servo");

        // Every row starts from tunex {9} and servo {8}.
        const QList<tdu1> t0 {9};
        const QList<tdu1> s0 {8};
        auto node = [](const char *id) { return QByteArray("<NodeId>") + id + "</NodeId>"; };

        QTest::newRow("missing file") << QByteArray() << false << t0 << s0;
        QTest::newRow("unreadable") << QByteArray("<folder>") << false << t0 << s0;
        QTest::newRow("malformed") << QByteArray("<cfg><tunex>") << false << t0 << s0;
        QTest::newRow("empty file") << QByteArray("") << false << t0 << s0;
        QTest::newRow("duplicates dropped")
            << "<cfg><tunex>" + node("1") + node("2") + node("1") + "</tunex></cfg>" << true
            << QList<tdu1> {1, 2} << s0;
        QTest::newRow("low 8 bits") << "<cfg><servo>" + node("257") + node("-1") + "</servo></cfg>"
                                    << true << t0 << QList<tdu1> {1, 255};
        QTest::newRow("not a number gives 0")
            << "<cfg><tunex>" + node("x") + node("3") + "<NodeId/></tunex></cfg>" << true
            << QList<tdu1> {0, 3} << s0;
        QTest::newRow("only servo keeps tunex")
            << "<any><servo>" + node("3") + "</servo></any>" << true << t0 << QList<tdu1> {3};
        QTest::newRow("empty tunex empties it")
            << QByteArray("<cfg><tunex/></cfg>") << true << QList<tdu1> {} << s0;
        QTest::newRow("only the first tunex, other elements ignored")
            << "<cfg><tunex>" + node("4") + "<id>5</id></tunex><tunex>" + node("6")
                + "</tunex><servo><x><NodeId>7</NodeId></x></servo></cfg>"
            << true << QList<tdu1> {4} << QList<tdu1> {};
    }
    void loadFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, result);
        QFETCH(QList<tdu1>, tunex);
        QFETCH(QList<tdu1>, servo);

        ZoBusDevCfg cfg;
        QDomDocument start;
        QVERIFY(start.setContent(QByteArray(
            "<c><tunex><NodeId>9</NodeId></tunex><servo><NodeId>8</NodeId></servo></c>")));
        QVERIFY(cfg.parse(start.documentElement()));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("busdevcfg.xml"));
        if (content == "<folder>") {
            QVERIFY(QDir().mkdir(path));
            QTest::ignoreMessage(QtWarningMsg, "Couldn't open load file.");
        } else if (!content.isNull()) {
            QVERIFY(zoWriteFile(path, content));
            if (!result)
                QTest::ignoreMessage(QtDebugMsg,
                    QRegularExpression(QStringLiteral("^Fail to setContent: .+, \\d+, \\d+$")));
        }
        QCOMPARE(cfg.loadFile(path), result);
        QCOMPARE(cfg.tunexNodeIds(), tunex);
        QCOMPARE(cfg.servoNodeIds(), servo);
    }
};

QTEST_GUILESS_MAIN(tst_ZoBusDevCfg)
#include "tst_zobusdevcfg.moc"
