#include "pictureuser.h"

#include <QFile>
#include <QtTest>

// Nothing in this program refers to the compiled resources: they must have
// registered themselves before main().
class TestPictureLink : public QObject
{
    Q_OBJECT

private slots:
    void registeredThroughStaticLibrary()
    {
        QVERIFY(QFile::exists(QStringLiteral(":/toolkit/resource/msgbox/questionblue.png")));
        const QImage image
            = pictureUserLoad(QStringLiteral(":/toolkit/resource/msgbox/warningyellow.png"));
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(35, 35));
    }

    void appPicturesNotLinked()
    {
        // Only the toolkit set was linked; the other set stays out, so a
        // program pays only for what it uses.
        QVERIFY(!QFile::exists(QStringLiteral(":/resource/korvelhalden.png")));
    }
};

QTEST_GUILESS_MAIN(TestPictureLink)
#include "tst_picturelink.moc"
