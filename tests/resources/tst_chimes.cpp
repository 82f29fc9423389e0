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

QString audioPath(const char *name)
{
    return QStringLiteral(TOLVANE_BINARY_DIR "/audio/") + QLatin1String(name);
}

} // namespace

class TestChimes : public QObject
{
    Q_OBJECT

private slots:
    // What a player checks before it plays a file: PCM whose header fields
    // agree with each other, and samples to play.
    void playable_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("succ") << audioPath("succ.wav");
        QTest::newRow("fail") << audioPath("fail.wav");
    }
    void playable()
    {
        QFETCH(QString, path);
        Wav wav;
        QString why;
        QVERIFY2(readWav(path, wav, why), qPrintable(why));
        QCOMPARE(wav.format, quint16(1));
        QVERIFY(wav.channels > 0 && wav.rate > 0 && wav.bits % 8 == 0);
        QCOMPARE(wav.blockAlign, quint16(wav.channels * wav.bits / 8));
        QCOMPARE(wav.byteRate, wav.rate * wav.blockAlign);
        int peak = 0;
        for (qint16 s : qAsConst(wav.samples))
            peak = qMax(peak, std::abs(int(s)));
        QVERIFY2(peak > 1000, "silent");
    }

    // The two results must not sound alike.
    void distinct()
    {
        QVERIFY(zoReadFile(audioPath("succ.wav")) != zoReadFile(audioPath("fail.wav")));
    }
};

QTEST_GUILESS_MAIN(TestChimes)
#include "tst_chimes.moc"
