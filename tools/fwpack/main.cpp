// tolvane-fwpack: writes a firmware file (48-byte header and image) for the
// simulators, the tests and the demo.

#include "ZoFwPackBuilder.h"
#include "ZoSimCommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>

namespace {

constexpr qint64 kMaxImage = 256LL * 1024 * 1024;

bool parseByte(const QString &text, quint8 *out)
{
    qint64 v = 0;
    if (!ZoSimCommandLine::readInt(text, 0, 255, &v))
        return false;
    *out = quint8(v);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tolvane-fwpack"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Builds a firmware file: 48-byte header (image length at 16, type and version at 22, "
        "compile time at 30) followed by the image."));
    parser.addHelpOption();
    const QCommandLineOption outOpt(
        QStringLiteral("o"), QStringLiteral("Output file."), QStringLiteral("FILE"));
    const QCommandLineOption typeOpt(QStringLiteral("type"),
        QStringLiteral("Device type code 0..255 (header byte 22)."), QStringLiteral("T"));
    const QCommandLineOption versionOpt(QStringLiteral("version"),
        QStringLiteral("Firmware version major.minor.revision."), QStringLiteral("V"));
    const QCommandLineOption timeOpt(QStringLiteral("compile-time"),
        QStringLiteral("Compile time \"yyyy-MM-dd HH:mm:ss\" "
                       "(default 2026-01-01 00:00:00)."),
        QStringLiteral("TIME"));
    const QCommandLineOption imageOpt(QStringLiteral("image"),
        QStringLiteral("Take the image from this file."), QStringLiteral("FILE"));
    const QCommandLineOption sizeOpt(QStringLiteral("size"),
        QStringLiteral("Pseudo-random image of N bytes."), QStringLiteral("N"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
        QStringLiteral("Seed of the pseudo-random image (default 0)."), QStringLiteral("S"),
        QStringLiteral("0"));
    const QCommandLineOption lengthOpt(QStringLiteral("length-field"),
        QStringLiteral("Write N into the length field instead of "
                       "the image size."),
        QStringLiteral("N"));
    parser.addOptions(
        {outOpt, typeOpt, versionOpt, timeOpt, imageOpt, sizeOpt, seedOpt, lengthOpt});
    parser.process(app);

    if (!parser.isSet(outOpt))
        return ZoSimCommandLine::fail(QStringLiteral("-o FILE is required"));
    if (parser.isSet(imageOpt) == parser.isSet(sizeOpt))
        return ZoSimCommandLine::fail(
            QStringLiteral("give exactly one of --image FILE or --size N"));

    ZoFwPackBuilder builder;
    quint8 type = 0;
    if (!parser.isSet(typeOpt) || !parseByte(parser.value(typeOpt), &type))
        return ZoSimCommandLine::fail(QStringLiteral("--type needs a device type code 0..255"));
    builder.setType(type);

    const QStringList parts = parser.value(versionOpt).split(QLatin1Char('.'));
    quint8 v[3] = {0, 0, 0};
    if (parts.size() != 3 || !parseByte(parts[0], &v[0]) || !parseByte(parts[1], &v[1])
        || !parseByte(parts[2], &v[2]))
        return ZoSimCommandLine::fail(
            QStringLiteral("--version needs major.minor.revision, each 0..255"));
    builder.setVersion(v[0], v[1], v[2]);

    if (parser.isSet(timeOpt)) {
        QString text = parser.value(timeOpt);
        text.replace(QLatin1Char('T'), QLatin1Char(' '));
        const QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!t.isValid() || t.date().year() < 0 || t.date().year() > 65535)
            return ZoSimCommandLine::fail(
                QStringLiteral("--compile-time needs \"yyyy-MM-dd HH:mm:ss\""));
        builder.setCompileTime(quint16(t.date().year()), quint8(t.date().month()),
            quint8(t.date().day()), quint8(t.time().hour()), quint8(t.time().minute()),
            quint8(t.time().second()));
    }

    QByteArray image;
    bool ok = false;
    if (parser.isSet(imageOpt)) {
        QFile in(parser.value(imageOpt));
        if (!in.open(QIODevice::ReadOnly))
            return ZoSimCommandLine::fail(QStringLiteral("cannot read %1").arg(in.fileName()));
        if (in.size() > kMaxImage)
            return ZoSimCommandLine::fail(
                QStringLiteral("%1 is larger than 256 MiB").arg(in.fileName()));
        image = in.readAll();
    } else {
        const qint64 size = parser.value(sizeOpt).toLongLong(&ok);
        if (!ok || size < 0 || size > kMaxImage)
            return ZoSimCommandLine::fail(
                QStringLiteral("--size needs a byte count up to 256 MiB"));
        const quint64 seed = parser.value(seedOpt).toULongLong(&ok, 0);
        if (!ok)
            return ZoSimCommandLine::fail(QStringLiteral("--seed needs an unsigned 64-bit number"));
        image = ZoFwPackBuilder::pseudoRandomImage(size, seed);
    }
    if (parser.isSet(lengthOpt)) {
        const quint32 length = parser.value(lengthOpt).toUInt(&ok, 0);
        if (!ok)
            return ZoSimCommandLine::fail(
                QStringLiteral("--length-field needs an unsigned 32-bit number"));
        builder.overrideLengthField(length);
    }

    QSaveFile out(parser.value(outOpt));
    const QByteArray file = builder.build(image);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size() || !out.commit())
        return ZoSimCommandLine::fail(QStringLiteral("cannot write %1").arg(parser.value(outOpt)));

    // The aircraft simulator logs the same digest of what it received.
    std::printf("%s: %d header + %d image bytes, type %u, version %u.%u.%u, image sha256 %s\n",
        parser.value(outOpt).toLocal8Bit().constData(), ZoFwPackBuilder::kHeaderSize, image.size(),
        type, v[0], v[1], v[2],
        QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex().constData());
    return 0;
}
