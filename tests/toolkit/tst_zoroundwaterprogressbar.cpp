#include "ZoRoundWaterProgressBar.h"

#include <QFile>
#include <QImage>
#include <QtTest>

namespace {
const QColor kDisc(41, 36, 33);

QImage render(ZoRoundWaterProgressBar &bar)
{
    QImage image(bar.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    bar.render(&image);
    return image;
}

bool near(QRgb pixel, const QColor &colour, int tolerance = 12)
{
    return qAbs(qRed(pixel) - colour.red()) <= tolerance
        && qAbs(qGreen(pixel) - colour.green()) <= tolerance
        && qAbs(qBlue(pixel) - colour.blue()) <= tolerance;
}

bool greenish(QRgb pixel)
{
    return qGreen(pixel) > qRed(pixel) + 40 && qGreen(pixel) > qBlue(pixel) + 20;
}

// Counts orange pixels of the ring in the band just inside the widget's edge.
int ringPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) > 180 && qGreen(p) > 40 && qGreen(p) < 140 && qBlue(p) < 60)
                ++count;
        }
    }
    return count;
}
}

class TstZoRoundWaterProgressBar : public QObject
{
    Q_OBJECT

private slots:
    void waterLevel_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("centreWet");
        QTest::addColumn<bool>("lowerWet");

        // 200 × 200: the water's bottom coordinate is 197, amplitude about 10 px.
        QTest::newRow("empty: only crests at the bottom") << 0 << false << false;
        QTest::newRow("half: level at half of the bottom") << 50 << false << true;
        QTest::newRow("three quarters") << 75 << true << true;
    }
    void waterLevel()
    {
        QFETCH(int, value);
        QFETCH(bool, centreWet);

        ZoRoundWaterProgressBar bar;
        bar.resize(200, 200);
        bar.setValue(value);
        const QImage image = render(bar);

        // Points above and below the glyphs of the centred caption.
        const QRgb above = image.pixel(100, 30);
        const QRgb centre = image.pixel(50, 62);
        const QRgb lower = image.pixel(100, 150);
        QVERIFY2(near(above, kDisc), "water above its level");
        QVERIFY2(greenish(centre) == centreWet, qPrintable(QColor(centre).name()));
        QTEST(greenish(lower), "lowerWet");
        QVERIFY(ringPixels(image) > 0);
    }

    void rangeAndValueAreKeptConsistent_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("expectedMaximum");
        QTest::addColumn<int>("expectedValue");

        QTest::newRow("plain") << 0 << 100 << 42 << 100 << 42;
        QTest::newRow("past the maximum counts as done") << 0 << 100 << 250 << 100 << 100;
        QTest::newRow("below the minimum") << 10 << 20 << 3 << 20 << 10;
        QTest::newRow("reversed range collapses") << 50 << 10 << 30 << 50 << 50;
        QTest::newRow("empty range") << 0 << 0 << 0 << 0 << 0;
    }
    void rangeAndValueAreKeptConsistent()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, value);

        ZoRoundWaterProgressBar bar;
        bar.resize(120, 120);
        bar.setRange(minimum, maximum);
        bar.setValue(value);
        QTEST(bar.maximum(), "expectedMaximum");
        QTEST(bar.value(), "expectedValue");
        // Must paint without dividing by an empty range.
        render(bar);
    }

    void ringAngleCycles()
    {
        // A whole turn brings the ring back to where it started.
        ZoRoundWaterProgressBar bar;
        QCOMPARE(bar.ringAngle(), 0);
        for (int step = 0; step < 36; ++step)
            bar.onUpdateRingWave();
        QCOMPARE(bar.ringAngle(), 0);

        // The animation timer drives it on its own, but only while the ring can
        // be seen turning: not hidden, not at its end, and again once restarted.
        QVERIFY(!bar.isAnimating());
        bar.show();
        QVERIFY(bar.isAnimating());
        QTRY_VERIFY_WITH_TIMEOUT(bar.ringAngle() >= 20, 2000);
        bar.setValue(bar.maximum());
        QVERIFY(!bar.isAnimating());
        bar.setValue(10);
        QVERIFY(bar.isAnimating());
        bar.setResult(true);
        QVERIFY(!bar.isAnimating());
        bar.setRange(0, 200);
        QVERIFY(bar.isAnimating());
        bar.hide();
        QVERIFY(!bar.isAnimating());
    }

    void finishedShowsNoRing()
    {
        ZoRoundWaterProgressBar bar;
        bar.resize(200, 200);
        bar.setValue(100);
        const QImage image = render(bar);
        QCOMPARE(ringPixels(image), 0);
        QVERIFY(near(image.pixel(100, 130), kDisc));
    }

    void setResult_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("picture");
        QTest::newRow("success") << true << ":/resource/moduleupgradedsucc.png";
        QTest::newRow("failure") << false << ":/resource/moduleupradefailed.png";
    }
    void setResult()
    {
        QFETCH(bool, ok);
        QFETCH(QString, picture);

        ZoRoundWaterProgressBar bar;
        bar.resize(160, 160);
        bar.setRange(0, 1000);
        bar.setValue(300);
        bar.setResult(ok);
        QCOMPARE(bar.resultPicture(), picture);
        QCOMPARE(bar.value(), 1000);

        const QImage image = render(bar);
        QCOMPARE(ringPixels(image), 0);
        if (QFile::exists(picture)) {
            // The picture is stretched over the whole widget.
            const QImage expected
                = QImage(picture).scaled(bar.size()).convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(QColor(image.pixel(80, 80)).name(), QColor(expected.pixel(80, 80)).name());
        } else {
            QVERIFY(near(image.pixel(80, 80), kDisc));
        }
    }
};

QTEST_MAIN(TstZoRoundWaterProgressBar)
#include "tst_zoroundwaterprogressbar.moc"
