#include "ZoCliLabel.h"

#ifdef TOLVANE_HAVE_QRENCODE
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QSaveFile>

#include <qrencode.h>
#endif

namespace {

QString token(QString value)
{
    value = value.trimmed();
    if (value.isEmpty())
        return QStringLiteral("-");
    value.replace(QLatin1Char(' '), QLatin1Char('-'));
    return value;
}

} // namespace

QString ZoCliLabel::line() const
{
    QStringList fields {QStringLiteral("label"), QStringLiteral("eid=") + token(eid),
        QStringLiteral("time=") + time.toUTC().toString(Qt::ISODate),
        QStringLiteral("result=") + token(result), QStringLiteral("link=") + token(link)};
    for (const ZoCliDevice &d : devices) {
        // Expected by the configuration, never heard: not on this aircraft.
        if (d.presence == ZoDevFMInfo::Presence::NotAnswering)
            continue;
        tVersion now;
        const QString version = d.versionAfter(now) ? ZoCliDevice::versionText(now) : QString();
        const QString outcome
            = deviceResult.isEmpty() ? ZoCliDevice::resultName(d.outcome.result) : deviceResult;
        fields << QStringLiteral("%1.%2=%3/%4")
                      .arg(d.type)
                      .arg(d.deviceNumber)
                      .arg(token(version), token(outcome));
    }
    return fields.join(QLatin1Char(' '));
}

QString ZoCliLabel::pngName() const
{
    return QStringLiteral("%1-%2.png")
        .arg(token(eid), time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")));
}

bool ZoCliLabel::pngAvailable()
{
#ifdef TOLVANE_HAVE_QRENCODE
    return true;
#else
    return false;
#endif
}

#ifdef TOLVANE_HAVE_QRENCODE

namespace {

// libqrencode's symbol, freed with it.
struct QrSymbol
{
    explicit QrSymbol(const QByteArray &text)
        : code(QRcode_encodeString8bit(text.constData(), 0, QR_ECLEVEL_M))
    {
    }
    ~QrSymbol()
    {
        if (code)
            QRcode_free(code);
    }
    QrSymbol(const QrSymbol &) = delete;
    QrSymbol &operator=(const QrSymbol &) = delete;
    bool dark(int x, int y) const { return code->data[y * code->width + x] & 1; }

    QRcode *code;
};

} // namespace

bool ZoCliLabel::writePng(const QString &path, QString *error) const
{
    const QString text = line();
    const QrSymbol qr(text.toUtf8());
    if (!qr.code) {
        if (error)
            *error = QStringLiteral("libqrencode could not encode the line (%1 bytes)")
                         .arg(text.toUtf8().size());
        return false;
    }
    // Whole pixels per module and the four-module quiet zone a reader needs.
    const int quiet = 4;
    const int side = (qr.code->width + 2 * quiet) * ModulePixels;
    QStringList lines = text.split(QLatin1Char(' '));
    lines.removeFirst(); // "label"
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(16);
    const QFontMetrics metrics(font);
    int textWidth = 0;
    for (const QString &l : qAsConst(lines))
        textWidth = qMax(textWidth, metrics.horizontalAdvance(l));
    const int textHeight = lines.size() * metrics.lineSpacing() + 2 * ModulePixels * quiet;
    QImage image(
        side + textWidth + quiet * ModulePixels, qMax(side, textHeight), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < qr.code->width; ++y)
        for (int x = 0; x < qr.code->width; ++x)
            if (qr.dark(x, y))
                painter.fillRect((x + quiet) * ModulePixels, (y + quiet) * ModulePixels,
                    ModulePixels, ModulePixels, Qt::black);
    painter.setFont(font);
    painter.setPen(Qt::black);
    int baseline = quiet * ModulePixels + metrics.ascent();
    for (const QString &l : qAsConst(lines)) {
        painter.drawText(side, baseline, l);
        baseline += metrics.lineSpacing();
    }
    painter.end();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

#else

bool ZoCliLabel::writePng(const QString &path, QString *error) const
{
    Q_UNUSED(path)
    if (error)
        *error = QStringLiteral("this tolvane-cli was built without libqrencode, so it draws no "
                                "label pictures (install libqrencode-dev and build again)");
    return false;
}

#endif
