// tolvane-svgrender <in.svg> <out.png> <width> <height>
//
// Renders one SVG into a PNG of exactly width x height pixels (the drawing's
// view box is stretched onto that rectangle, so the sources are drawn with
// the aspect of their target). Any complaint of the SVG parser is an error,
// and so is any element outside the plain-drawing subset below: QSvgRenderer
// skips filters, masks and the like without a word, and text would depend on
// the fonts of the build machine. A source the renderer only half understands
// would otherwise become a silently wrong picture in the program.

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSet>
#include <QString>
#include <QSvgRenderer>
#include <QXmlStreamReader>

#include <cstdio>

namespace {

bool gComplained = false;

void recordMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        gComplained = true;
    std::fprintf(stderr, "tolvane-svgrender: %s\n", qPrintable(text));
}

int fail(const QString &text)
{
    std::fprintf(stderr, "tolvane-svgrender: %s\n", qPrintable(text));
    return 1;
}

// The first element outside the subset, or empty text when all are inside.
QString unsupportedElement(const QString &path)
{
    static const QSet<QString> drawable = {
        QStringLiteral("svg"),
        QStringLiteral("g"),
        QStringLiteral("defs"),
        QStringLiteral("title"),
        QStringLiteral("desc"),
        QStringLiteral("path"),
        QStringLiteral("rect"),
        QStringLiteral("circle"),
        QStringLiteral("ellipse"),
        QStringLiteral("line"),
        QStringLiteral("polyline"),
        QStringLiteral("polygon"),
        QStringLiteral("stop"),
        QStringLiteral("linearGradient"),
        QStringLiteral("radialGradient"),
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("(unreadable)");
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement
            && !drawable.contains(xml.name().toString()))
            return xml.name().toString();
    }
    return xml.hasError() ? QStringLiteral("(malformed XML: %1)").arg(xml.errorString())
                          : QString();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(recordMessage);

    const QStringList args = app.arguments();
    if (args.size() != 5)
        return fail(QStringLiteral("usage: tolvane-svgrender <in.svg> <out.png> <width> <height>"));

    bool okW = false;
    bool okH = false;
    const int width = args.at(3).toInt(&okW);
    const int height = args.at(4).toInt(&okH);
    if (!okW || !okH || width <= 0 || height <= 0 || width > 4096 || height > 4096)
        return fail(QStringLiteral("bad size %1 x %2").arg(args.at(3), args.at(4)));

    const QString odd = unsupportedElement(args.at(1));
    if (!odd.isEmpty())
        return fail(QStringLiteral("%1: <%2> is not drawn reliably; use paths and shapes")
                        .arg(args.at(1), odd));

    QSvgRenderer renderer;
    if (!renderer.load(args.at(1)) || !renderer.isValid())
        return fail(QStringLiteral("cannot read %1").arg(args.at(1)));
    if (gComplained)
        return fail(QStringLiteral("%1 uses SVG the renderer does not support").arg(args.at(1)));

    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(0, 0, width, height));
    }
    if (gComplained)
        return fail(QStringLiteral("%1 did not render cleanly").arg(args.at(1)));

    // Written whole or not at all, so an interrupted build never leaves a
    // truncated picture that a later build would take as up to date.
    QSaveFile out(args.at(2));
    if (!out.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1").arg(args.at(2)));
    if (!image.convertToFormat(QImage::Format_ARGB32).save(&out, "PNG") || !out.commit())
        return fail(QStringLiteral("cannot write %1").arg(args.at(2)));
    return 0;
}
