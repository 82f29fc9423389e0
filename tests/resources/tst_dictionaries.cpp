#include "ZoTestFiles.h"

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

// The dictionaries against the code: every key the code passes through a
// translation call (or a form file) has a real English and a real Chinese
// text in its context, and the built dictionaries are what the programs load:
// from dict/ and from inside the programs.
namespace {

using Texts = QMap<QPair<QString, QString>, QString>; // (context, key) -> text

// Every message of a Linguist file; unfinished ones map to an empty text.
Texts readTs(const QString &path)
{
    Texts texts;
    QXmlStreamReader xml(zoReadFile(path));
    QString context;
    QString source;
    while (!xml.atEnd()) {
        if (!xml.readNextStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("source")) {
            source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const bool unfinished
                = xml.attributes().value(QLatin1String("type")) == QLatin1String("unfinished");
            // A plural's forms are elements of their own.
            const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            texts.insert({context, source}, unfinished ? QString() : text);
        }
    }
    return texts;
}

bool hasChinese(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF)
            return true;
    return false;
}

// "MsgAllDevUpgraded", "BtnYes": a key, not a text a user should read.
bool isKey(const QString &text)
{
    static const QRegularExpression key(
        QStringLiteral("^(Msg|Lab|Lit|Btn|Wnd)[A-Z][A-Za-z0-9_]*$"));
    return key.match(text).hasMatch();
}

// "%1 of %2" -> "%1 %2": what .arg() fills, in any order.
QStringList places(const QString &text)
{
    static const QRegularExpression place(QStringLiteral("%[1-9][0-9]?"));
    QStringList found;
    for (auto it = place.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    found.sort();
    found.removeDuplicates();
    return found;
}

QString tsPath(const QString &dictionary, const QString &lang)
{
    return QStringLiteral(TOLVANE_SOURCE_DIR "/resources/translations/%1_%2.ts")
        .arg(dictionary, lang);
}

// The sources whose keys each dictionary holds: the updater shares only the
// message box's question with the rest.
const QMap<QString, QStringList> &sourcesOf()
{
    static const QMap<QString, QStringList> sources {
        {QStringLiteral("FlashbayUpdate"),
            QStringLiteral("toolkit forms upgrade utils app ui config").split(QLatin1Char(' '))},
        {QStringLiteral("ZoHaldenUpdate"),
            QStringLiteral("updater toolkit/ZoMessageBox.h toolkit/ZoMessageBox.cpp")
                .split(QLatin1Char(' '))}};
    return sources;
}

} // namespace

class TstDictionaries : public QObject
{
    Q_OBJECT

    QMap<QString, Texts> used; // by dictionary

private Q_SLOTS:
    void initTestCase()
    {
        // What the code uses today, extracted by the same tool that maintains
        // the dictionaries.
        QTemporaryDir dir;
        const QMap<QString, QStringList> &sources = sourcesOf();
        for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
            const QString out = dir.filePath(it.key() + QStringLiteral(".ts"));
            QProcess lupdate;
            lupdate.setWorkingDirectory(QStringLiteral(TOLVANE_SOURCE_DIR));
            lupdate.start(QStringLiteral(TOLVANE_LUPDATE),
                QStringLiteral("-silent -locations none").split(QLatin1Char(' ')) + it.value()
                    + QStringList {QStringLiteral("-ts"), out});
            QVERIFY(lupdate.waitForFinished(60000));
            QCOMPARE(lupdate.exitCode(), 0);
            used.insert(it.key(), readTs(out));
        }
        QVERIFY2(used.value(QStringLiteral("FlashbayUpdate")).size() > 50,
            "the code's keys were not found");
        QVERIFY2(used.value(QStringLiteral("ZoHaldenUpdate")).size() > 15,
            "the updater's keys were not found");
    }

    void everyKeyTranslated_data()
    {
        QTest::addColumn<QString>("dictionary");
        QTest::addColumn<QString>("lang");
        for (const QString &d : sourcesOf().keys()) {
            QTest::addRow("%s English", qPrintable(d)) << d << QStringLiteral("en_US");
            QTest::addRow("%s Chinese", qPrintable(d)) << d << QStringLiteral("zh_CN");
        }
    }

    void everyKeyTranslated()
    {
        QFETCH(QString, dictionary);
        QFETCH(QString, lang);
        const Texts texts = readTs(tsPath(dictionary, lang));
        const Texts english = readTs(tsPath(dictionary, QStringLiteral("en_US")));
        const Texts keys = used.value(dictionary);
        QStringList problems;
        for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
            const QString where = it.key().first + QLatin1String("::") + it.key().second;
            const QString text = texts.value(it.key());
            if (text.trimmed().isEmpty())
                problems << where + QLatin1String(" has no text");
            else if (lang == QLatin1String("zh_CN") && !hasChinese(text))
                problems << where + QLatin1String(" is not Chinese: ") + text;
            else if (text == it.key().second && isKey(text))
                problems << where + QLatin1String(" is the key itself");
            // A place one language lacks is a QString::arg warning there.
            else if (places(text) != places(english.value(it.key())))
                problems << where + QLatin1String(" has other places than in English: ") + text;
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    // The build turns the sources into what the program loads.
    void builtDictionaries_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("yes");
        QTest::newRow("English") << QStringLiteral("en_US") << QStringLiteral("Yes");
        QTest::newRow("Chinese") << QStringLiteral("zh_CN") << QStringLiteral("是");
    }

    void builtDictionaries()
    {
        QFETCH(QString, lang);
        QTranslator translator;
        QVERIFY(translator.load(
            QStringLiteral("FlashbayUpdate_") + lang, QStringLiteral(TOLVANE_DICT_DIR)));
        QTEST(translator.translate("ZoMessageBox", "BtnYes"), "yes");
        // The programs carry the same file inside them.
        QCOMPARE(zoReadFile(QStringLiteral(":/dict/FlashbayUpdate_%1.qm").arg(lang)),
            zoReadFile(QStringLiteral(TOLVANE_DICT_DIR "/FlashbayUpdate_%1.qm").arg(lang)));
        const Texts dictionary = readTs(tsPath(QStringLiteral("FlashbayUpdate"), lang));
        QCOMPARE(translator.translate("QObject", "MsgGNCEmba2"),
            dictionary.value({QStringLiteral("QObject"), QStringLiteral("MsgGNCEmba2")}));
    }

    void updaterDictionariesEmbedded_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("yes");
        QTest::newRow("English") << QStringLiteral("en_US")
                                 << QStringLiteral("Software update online") << QStringLiteral("Yes");
        QTest::newRow("Chinese") << QStringLiteral("zh_CN") << QStringLiteral("在线软件更新")
                                 << QStringLiteral("是");
    }

    void updaterDictionariesEmbedded()
    {
        QFETCH(QString, lang);
        QTranslator translator;
        QVERIFY(translator.load(
            QStringLiteral(":/dict/ZoHaldenUpdate_") + lang + QStringLiteral(".qm")));
        QTEST(translator.translate("ZoHaldenUpdateForm", "LabSoftwareUpdate"), "title");
        QTEST(translator.translate("ZoMessageBox", "LabYes"), "yes");
        QVERIFY(QFile::exists(QStringLiteral(":/qss/resource/dark.qss")));
    }
};

QTEST_GUILESS_MAIN(TstDictionaries)
#include "tst_dictionaries.moc"
