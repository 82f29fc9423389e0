#include "ZoHistoryForm.h"
#include "ZoLaneTimeline.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using Row = ZoFlashHistory::Row;

namespace {

Row flash(const QString &eid, int day, int type, int number, const QString &confirmed)
{
    Row r;
    r.time = QDateTime(QDate(2026, 3, day), QTime(10, 0), Qt::UTC);
    r.eid = eid;
    r.type = type;
    r.number = number;
    r.confirmed = confirmed;
    r.result = QStringLiteral("upgraded");
    r.sha256 = QString(64, QLatin1Char('a' + day % 6));
    return r;
}

} // namespace

class TstZoHistoryForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Two aircraft on one station, appended out of time order: the found one's
    // flashes alone, newest first, and one lane per device it flashed, each
    // with its flashes in time; the lanes share the widget's height at any size.
    void showsTheFoundAircraftNewestFirst()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        {
            ZoFlashHistory history(path);
            QVERIFY(history.open());
            for (Row r : {flash(QStringLiteral("A"), 3, 80, 0, QStringLiteral("2.1.0")),
                     flash(QStringLiteral("B"), 4, 80, 0, QStringLiteral("2.0.0")),
                     flash(QStringLiteral("A"), 9, 77, 2, QStringLiteral("1.1.0")),
                     flash(QStringLiteral("A"), 1, 77, 2, QStringLiteral("1.0.0")),
                     flash(QStringLiteral("B"), 12, 38, 0, QStringLiteral("1.0.4")),
                     flash(QStringLiteral("A"), 5, 38, 0, QStringLiteral("1.0.3"))})
                QVERIFY(history.append(r));
        }
        ZoHistoryForm form;
        form.resize(700, 580);
        form.show();
        QVERIFY(form.showAircraft(path, QStringLiteral("A")));

        QList<int> days;
        for (const Row &r : form.rows()) {
            QCOMPARE(r.eid, QStringLiteral("A"));
            days << r.time.date().day();
        }
        QCOMPARE(days, (QList<int> {9, 5, 3, 1}));
        auto *table = form.findChild<QTableWidget *>(QStringLiteral("table"));
        QCOMPARE(table->rowCount(), 4);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("2026-03-09\n10:00:00"));
        QCOMPARE(table->item(3, 2)->text(), QStringLiteral("– → 1.0.0"));

        ZoLaneTimeline *timeline = form.timeline();
        QStringList lanes;
        for (const ZoLaneTimeline::Lane &lane : timeline->lanes()) {
            QStringList labels;
            for (const ZoLaneTimeline::Point &p : lane.points)
                labels << p.label;
            lanes << labels.join(QLatin1Char(' '));
        }
        // By device: 38, 77 on node 2, 80.
        QCOMPARE(lanes, (QStringList {"1.0.3", "1.0.0 1.1.0", "2.1.0"}));
        for (const QSize size : {QSize(300, 90), QSize(900, 400)}) {
            timeline->resize(size);
            QVERIFY(timeline->laneRect(0).top() >= 0);
            QVERIFY(timeline->laneRect(2).bottom() < size.height());
            QCOMPARE(timeline->laneRect(1).top(), timeline->laneRect(0).bottom() + 1);
            QVERIFY(
                timeline->xOf(form.rows().last().time) < timeline->xOf(form.rows().first().time));
        }

        // What a row's action is given: the selected row.
        QSignalSpy selection(&form, &ZoHistoryForm::sigSelectionChanged);
        QVERIFY(!form.selectedRow());
        table->selectRow(1);
        QCOMPARE(selection.count(), 1);
        QCOMPARE(form.selectedRow(), &form.rows().at(1));
    }

    // Read again after a run added to the file: the new flashes show, and the
    // one the user selected stays so though it moved down.
    void readAgainKeepsTheSelectedFlash()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        ZoFlashHistory history(path);
        const auto append = [&](int day) {
            Row r = flash(QStringLiteral("A"), day, 80, 0, QStringLiteral("2.0"));
            return history.append(r);
        };
        ZoHistoryForm form;
        QVERIFY(history.open() && append(3) && append(5)
            && form.showAircraft(path, QStringLiteral("A")));
        form.findChild<QTableWidget *>(QStringLiteral("table"))->selectRow(0);
        QVERIFY(append(7) && append(8) && form.showAircraft(path, QStringLiteral("A")));
        QCOMPARE(form.timeline()->lanes().value(0).points.size(), 4);
        QVERIFY(form.selectedRow() && form.selectedRow()->time.date().day() == 5);
    }

    // A viewer never changes the file: no history yet stays no file, and a
    // file that is no history is refused and left where it is, not set aside.
    void leavesTheFileAsItIs_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<bool>("readable");
        QTest::newRow("no history yet") << QByteArray() << true;
        QTest::newRow("not a database") << QByteArray("not a database, just text\n") << false;
    }
    void leavesTheFileAsItIs()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("history.sqlite"));
        if (!content.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        }
        ZoHistoryForm form;
        QTEST(form.showAircraft(path, QStringLiteral("A")), "readable");
        QVERIFY(form.rows().isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
            content.isNull() ? QStringList() : QStringList {QStringLiteral("history.sqlite")});
        if (!content.isNull()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), content);
        }
    }
};

QTEST_MAIN(TstZoHistoryForm)
#include "tst_zohistoryform.moc"
