#include "ZoTestFiles.h"

#include <QtEndian>
#include <QtTest>

#include <cmath>

namespace {

struct Wav
{
    quint16 format = 0;
    quint16 channels = 0;
    quint32 rate = 0;
    quint32 byteRate = 0;
    quint16 blockAlign = 0;
    quint16 bits = 0;
    QVector<qint16> samples;
};

// Reads a canonical PCM file: RIFF/WAVE, "fmt " then "data". Fails the
// calling test on anything else, since that is what players trip over.
bool readWav(const QString &path, Wav &wav, QString &why)
{
    const QByteArray d = zoReadFile(path);
    const auto u16 = [&d](int at) { return qFromLittleEndian<quint16>(d.constData() + at); };
    const auto u32 = [&d](int at) { return qFromLittleEndian<quint32>(d.constData() + at); };
    if (d.size() < 44 || d.left(4) != "RIFF" || d.mid(8, 4) != "WAVE" || d.mid(12, 4) != "fmt "
        || d.mid(36, 4) != "data") {
        why = path + QStringLiteral(" is missing or not a canonical RIFF/WAVE file");
        return false;
    }
    if (u32(4) != quint32(d.size() - 8) || u32(16) != 16 || u32(40) != quint32(d.size() - 44)) {
        why = QStringLiteral("chunk sizes do not match the file");
        return false;
    }
    wav.format = u16(20);
    wav.channels = u16(22);
    wav.rate = u32(24);
    wav.byteRate = u32(28);
    wav.blockAlign = u16(32);
    wav.bits = u16(34);
    for (int at = 44; at + 1 < d.size(); at += 2)
        wav.samples << qint16(u16(at));
    return true;
}

// Frequency from the zero crossings of [from, to) seconds; the chimes are
// nearly pure tones, so this is their pitch.
double pitch(const Wav &wav, double from, double to)
{
    const int a = int(from * wav.rate);
    const int b = qMin(int(to * wav.rate), wav.samples.size());
    int crossings = 0;
    for (int i = a + 1; i < b; ++i) {
        if ((wav.samples[i - 1] < 0) != (wav.samples[i] < 0))
            ++crossings;
    }
    return crossings / 2.0 / (double(b - a) / wav.rate);
}

QString audioPath(const char *name)
{
    return QStringLiteral(TOLVANE_BINARY_DIR "/audio/") + QLatin1String(name);
}

} // namespace

class TestChimes : public QObject
{
    Q_OBJECT

private slots:
    void format_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("succ") << audioPath("succ.wav");
        QTest::newRow("fail") << audioPath("fail.wav");
    }

    void format()
    {
        QFETCH(QString, path);
        Wav wav;
        QString why;
        QVERIFY2(readWav(path, wav, why), qPrintable(why));
        QCOMPARE(wav.format, quint16(1));
        QCOMPARE(wav.channels, quint16(1));
        QCOMPARE(wav.rate, 44100u);
        QCOMPARE(wav.bits, quint16(16));
        QCOMPARE(wav.blockAlign, quint16(2));
        QCOMPARE(wav.byteRate, 88200u);

        const double seconds = double(wav.samples.size()) / wav.rate;
        QVERIFY2(seconds > 0.2 && seconds < 1.0, qPrintable(QString::number(seconds)));

        // Audible but not clipped, and no click at either end.
        int peak = 0;
        for (qint16 s : qAsConst(wav.samples))
            peak = qMax(peak, std::abs(int(s)));
        QVERIFY2(peak > 6000 && peak < 32000, qPrintable(QString::number(peak)));
        QVERIFY(std::abs(int(wav.samples.first())) < 200);
        QVERIFY(std::abs(int(wav.samples.last())) < 200);
        const int attack = int(0.002 * wav.rate);
        for (int i = 0; i < attack; ++i)
            QVERIFY2(std::abs(int(wav.samples[i])) < peak / 3, "hard onset");
    }

    // Success rises, failure falls, so the two tell themselves apart
    // without looking at the screen.
    void contour()
    {
        Wav succ;
        Wav fail;
        QString why;
        QVERIFY2(readWav(audioPath("succ.wav"), succ, why), qPrintable(why));
        QVERIFY2(readWav(audioPath("fail.wav"), fail, why), qPrintable(why));

        const double succFirst = pitch(succ, 0.02, 0.12);
        const double succSecond = pitch(succ, 0.25, 0.40);
        const double failFirst = pitch(fail, 0.02, 0.15);
        const double failSecond = pitch(fail, 0.28, 0.45);
        const QString figures = QString::asprintf(
            "%g -> %g Hz, %g -> %g Hz", succFirst, succSecond, failFirst, failSecond);
        QVERIFY2(succSecond > succFirst * 1.2, qPrintable(figures));
        QVERIFY2(failSecond < failFirst / 1.2, qPrintable(figures));
        // In the range a laptop speaker reproduces and an ear finds pleasant.
        for (double hz : {succFirst, succSecond, failFirst, failSecond})
            QVERIFY2(hz > 300 && hz < 2000, qPrintable(figures));
    }
};

QTEST_GUILESS_MAIN(TestChimes)
#include "tst_chimes.moc"
