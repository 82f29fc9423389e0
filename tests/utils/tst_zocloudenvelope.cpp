// The reply envelope both cloud clients read: what passes, what the status
// reads as, and the one log line, which must stay in the caller's category.

#include "ZoCloudEnvelope.h"
#include "ZoTestLog.h"

#include <QtTest>

namespace {

Q_LOGGING_CATEGORY(lcFirst, "test.envelope.first")
Q_LOGGING_CATEGORY(lcSecond, "test.envelope.second")

} // namespace

class tst_ZoCloudEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void replies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("logs"); // the one line, worded as below

        auto row = [](const char *name, const QByteArray &body, bool ok, int status,
                       const char *message, bool logs = false) {
            QTest::newRow(name) << body << ok << status << QString::fromUtf8(message) << logs;
        };
        auto body = [](const char *head) { return QByteArray("{") + head + R"(,"data":{"k":1}})"; };
        row("success", body(R"("status":200,"message":"success")"), true, 200, "success");
        row("status written as 200.0", body(R"("status":200.0,"message":"ok")"), true, 200, "ok");
        row("not success", body(R"("status":500,"message":"boom")"), false, 500, "boom", true);
        row("negative status", body(R"("status":-5,"message":"")"), false, -5, "", true);
        row("status as text", body(R"("status":"200","message":"m")"), false, 0, "m", true);
        row("fractional status", body(R"("status":200.5,"message":"m")"), false, 0, "m", true);
        row("status beyond int", body(R"("status":4294967496,"message":"m")"), false, 0, "m", true);
        row("null status", body(R"("status":null,"message":"m")"), false, 0, "m", true);
        row("message not text", body(R"("status":200,"message":7)"), true, 200, "");
        row("no status", body(R"("message":"m")"), false, 0, "");
        row("no message, not success", body(R"("status":500)"), false, 500, "");
        row("no data", R"({"status":200,"message":"m"})", false, 200, "m");
        row("null data", R"({"status":200,"message":"m","data":null})", false, 200, "m");
        row("empty data", R"({"status":200,"message":"m","data":{}})", false, 200, "m");
        row("data as a list", R"({"status":200,"message":"m","data":[1]})", false, 200, "m");
        row("list", R"([{"status":200,"message":"m","data":{"k":1}}])", false, 0, "");
        row("cut short", body(R"("status":200,"message":"m")").chopped(2), false, 0, "");
        row("empty", QByteArray(), false, 0, "");
    }
    void replies()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(bool, logs);

        ZoCloudEnvelope envelope;
        envelope.message = QStringLiteral("left from before");
        ZoTestLogCapture log;
        const bool parsed = envelope.parse(body, lcFirst);
        const QStringList logged = log.lines();

        QCOMPARE(parsed, ok);
        QCOMPARE(envelope.status, status);
        QCOMPARE(envelope.message, message);
        QCOMPARE(envelope.data.isEmpty(), !ok);
        if (ok)
            QCOMPARE(envelope.data.value(QStringLiteral("k")).toInt(), 1);
        const QString line
            = QString::asprintf("test.envelope.first: Nimbra Server Reply not success: %d %s",
                status, qUtf8Printable(message));
        QCOMPARE(logged, logs ? QStringList {line} : QStringList());
    }

    void logGoesToCallersCategory()
    {
        const QByteArray refused = R"({"status":404,"message":"none","data":{}})";
        ZoTestLogCapture log;
        ZoCloudEnvelope().parse(refused, lcSecond);
        QLoggingCategory::setFilterRules(QStringLiteral("test.envelope.second.debug=false"));
        ZoCloudEnvelope().parse(refused, lcSecond);
        QLoggingCategory::setFilterRules(QString());

        QCOMPARE(log.lines(),
            QStringList {
                QStringLiteral("test.envelope.second: Nimbra Server Reply not success: 404 none")});
    }
};

QTEST_GUILESS_MAIN(tst_ZoCloudEnvelope)
#include "tst_zocloudenvelope.moc"
