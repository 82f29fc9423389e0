// The reply envelope both cloud clients read: what passes, what the status
// reads as, and the one log line, which must stay in the caller's category.

#include "ZoCloudEnvelope.h"

#include <QtTest>

namespace {

Q_LOGGING_CATEGORY(lcFirst, "test.envelope.first")
Q_LOGGING_CATEGORY(lcSecond, "test.envelope.second")

// "category: text" of every message, while installed.
QStringList logged;
QtMessageHandler previousHandler = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    logged << QString::fromLatin1(context.category) + QStringLiteral(": ") + text;
    previousHandler(type, context, text);
}

} // namespace

class tst_ZoCloudEnvelope : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void logGoesToCallersCategory();
};

void tst_ZoCloudEnvelope::replies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("log"); // empty: none

    const QByteArray data = R"("data":{"k":1})";
    auto body = [&data](const char *head) { return QByteArray("{") + head + "," + data + "}"; };

    QTest::newRow("success") << body(R"("status":200,"message":"success")") << true << 200
                             << "success" << QString();
    QTest::newRow("status written as 200.0")
        << body(R"("status":200.0,"message":"ok")") << true << 200 << "ok" << QString();
    QTest::newRow("not success") << body(R"("status":500,"message":"boom")") << false << 500
                                 << "boom"
                                 << "Nimbra Server Reply not success: 500 boom";
    QTest::newRow("negative status") << body(R"("status":-5,"message":"")") << false << -5 << ""
                                     << "Nimbra Server Reply not success: -5 ";
    QTest::newRow("status as text") << body(R"("status":"200","message":"m")") << false << 0 << "m"
                                    << "Nimbra Server Reply not success: 0 m";
    QTest::newRow("fractional status")
        << body(R"("status":200.5,"message":"m")") << false << 0 << "m"
        << "Nimbra Server Reply not success: 0 m";
    QTest::newRow("status beyond int")
        << body(R"("status":4294967496,"message":"m")") << false << 0 << "m"
        << "Nimbra Server Reply not success: 0 m";
    QTest::newRow("null status") << body(R"("status":null,"message":"m")") << false << 0 << "m"
                                 << "Nimbra Server Reply not success: 0 m";
    QTest::newRow("message not text")
        << body(R"("status":200,"message":7)") << true << 200 << "" << QString();
    QTest::newRow("no status") << body(R"("message":"m")") << false << 0 << "" << QString();
    QTest::newRow("no message, not success")
        << body(R"("status":500)") << false << 500 << "" << QString();
    QTest::newRow("no data") << QByteArray(R"({"status":200,"message":"m"})") << false << 200 << "m"
                             << QString();
    QTest::newRow("null data") << QByteArray(R"({"status":200,"message":"m","data":null})") << false
                               << 200 << "m" << QString();
    QTest::newRow("empty data") << QByteArray(R"({"status":200,"message":"m","data":{}})") << false
                                << 200 << "m" << QString();
    QTest::newRow("data as a list") << QByteArray(R"({"status":200,"message":"m","data":[1]})")
                                    << false << 200 << "m" << QString();
    QTest::newRow("list") << QByteArray(R"([{"status":200,"message":"m","data":{"k":1}}])") << false
                          << 0 << "" << QString();
    QTest::newRow("cut short") << body(R"("status":200,"message":"m")").chopped(2) << false << 0
                               << "" << QString();
    QTest::newRow("empty") << QByteArray() << false << 0 << "" << QString();
}

void tst_ZoCloudEnvelope::replies()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QString, log);

    ZoCloudEnvelope envelope;
    envelope.message = QStringLiteral("left from before");
    logged.clear();
    previousHandler = qInstallMessageHandler(collect);
    const bool parsed = envelope.parse(body, lcFirst);
    qInstallMessageHandler(previousHandler);

    QCOMPARE(parsed, ok);
    QCOMPARE(envelope.status, status);
    QCOMPARE(envelope.message, message);
    QCOMPARE(envelope.data.isEmpty(), !ok);
    if (ok)
        QCOMPARE(envelope.data.value(QStringLiteral("k")).toInt(), 1);
    QCOMPARE(logged,
        log.isEmpty() ? QStringList()
                      : QStringList {QStringLiteral("test.envelope.first: ") + log});
}

void tst_ZoCloudEnvelope::logGoesToCallersCategory()
{
    const QByteArray refused = R"({"status":404,"message":"none","data":{}})";
    logged.clear();
    previousHandler = qInstallMessageHandler(collect);
    ZoCloudEnvelope().parse(refused, lcSecond);
    QLoggingCategory::setFilterRules(QStringLiteral("test.envelope.second.debug=false"));
    ZoCloudEnvelope().parse(refused, lcSecond);
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previousHandler);

    QCOMPARE(logged,
        QStringList {
            QStringLiteral("test.envelope.second: Nimbra Server Reply not success: 404 none")});
}

QTEST_GUILESS_MAIN(tst_ZoCloudEnvelope)
#include "tst_zocloudenvelope.moc"
