#include "ZoTestFiles.h"
#include "ZoUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

QImage load(const QString &path)
{
    return QImage(path).convertToFormat(QImage::Format_ARGB32);
}

// A picture that rendered into nothing (wrong view box, unsupported SVG)
// comes out fully transparent.
bool hasInk(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) > 32)
                return true;
        }
    }
    return false;
}

QStringList allPictures()
{
    QStringList out;
    for (const QString &root : {QStringLiteral(":/resource"), QStringLiteral(":/toolkit")}) {
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << it.next();
    }
    out.sort();
    return out;
}

} // namespace

class TestPictures : public QObject
{
    Q_OBJECT

private slots:
    // Every icon the device catalogue hands out, as the rows and the
    // selection buttons load it.
    void catalogueIcons()
    {
        QSet<QString> paths;
        for (int code = 0; code < 256; ++code)
            paths.insert(ZoUtils::iconPath(tdu1(code)));
        // The unknown type's icon and one per family or module picture.
        QVERIFY2(paths.size() >= 20, qPrintable(QString::number(paths.size())));
        for (const QString &path : qAsConst(paths)) {
            const QImage image = load(path);
            QVERIFY2(!image.isNull(), qPrintable(path));
            QCOMPARE(image.size(), QSize(64, 64)); // and drawn, as every picture is below
        }
    }

    // The result pictures must read as success and failure at a glance: the
    // disc of the one is green, of the other red.
    void resultColours()
    {
        const QColor ok
            = load(QStringLiteral(":/resource/moduleupgradedsucc.png")).pixelColor(100, 20);
        const QColor bad
            = load(QStringLiteral(":/resource/moduleupradefailed.png")).pixelColor(100, 20);
        QVERIFY2(ok.green() > 2 * ok.red(), qPrintable(ok.name()));
        QVERIFY2(bad.red() > 2 * bad.green(), qPrintable(bad.name()));
    }

    // Backgrounds are stretched over whole windows: opaque everywhere, or
    // the desktop would show through the frameless forms.
    void backgroundsOpaque()
    {
        for (const char *path : {":/resource/titleBar.png", ":/resource/datalinkbkg.png",
                 ":/resource/selectbkg.png", ":/resource/selectgncbkg.png"}) {
            const QImage image = load(QString::fromLatin1(path));
            QVERIFY(!image.isNull());
            for (const QPoint p : {QPoint(0, 0), QPoint(image.width() / 2, image.height() / 2),
                     QPoint(image.width() - 1, image.height() - 1)})
                QCOMPARE(qAlpha(image.pixel(p)), 255);
        }
    }

    // Any picture the code of the tree names must be compiled in; a missing
    // one leaves an empty label with no error anywhere.
    void picturesNamedBySources()
    {
        const QRegularExpression ref(
            QStringLiteral(":/(?:toolkit/)?resource/[A-Za-z0-9_/.-]+\\.png"));
        QStringList missing;
        int seen = 0;
        QDirIterator it(QStringLiteral(TOLVANE_SOURCE_DIR), {"*.cpp", "*.h", "*.ui", "*.qss"},
            QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            if (file.contains(QLatin1String("/build")) || file.contains(QLatin1String("/tests/"))
                || file.contains(QLatin1String("/.git/")))
                continue;
            const QString text = QString::fromUtf8(zoReadFile(file));
            for (auto m = ref.globalMatch(text); m.hasNext();) {
                const QString path = m.next().captured(0);
                ++seen;
                if (load(path).isNull())
                    missing << path + QStringLiteral(" (") + file + QLatin1Char(')');
            }
        }
        QVERIFY(seen > 0);
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
    }

    // Everything in the two sets is a readable picture with something drawn
    // on it: a wrong view box or unsupported SVG renders to nothing.
    void everyPictureDrawn()
    {
        const QStringList paths = allPictures();
        QVERIFY(paths.size() >= 40);
        for (const QString &path : paths) {
            const QImage image = load(path);
            QVERIFY2(!image.isNull() && hasInk(image), qPrintable(path));
        }
    }
};

QTEST_GUILESS_MAIN(TestPictures)
#include "tst_pictures.moc"
