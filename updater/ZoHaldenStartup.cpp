#include "ZoHaldenStartup.h"

#include "ZoDictionary.h"
#include "ZoHaldenUpdateForm.h"
#include "ZoPlatform.h"

#include <QApplication>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QLocale>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcHaldenStartup, "haldenupdate.startup")

namespace ZoHaldenStartup {

namespace {

QString textOption(const QStringList &arguments, const QString &option, const QString &fallback)
{
    const int at = arguments.indexOf(option);
    if (at < 0 || at + 1 >= arguments.size())
        return fallback;
    return arguments.at(at + 1);
}

tds4 numberOption(const QStringList &arguments, const QString &option, tds4 fallback)
{
    const int at = arguments.indexOf(option);
    if (at < 0 || at + 1 >= arguments.size())
        return fallback;
    return arguments.at(at + 1).toInt(); // no number: 0
}

} // namespace

Options parseOptions(const QStringList &arguments)
{
    Options o;
    o.version = textOption(arguments, QStringLiteral("-v"), o.version);
    o.type = numberOption(arguments, QStringLiteral("-t"), o.type);
    o.name = textOption(arguments, QStringLiteral("-k"), o.name);
    o.url = textOption(arguments, QStringLiteral("-url"), o.url);
    o.channel = numberOption(arguments, QStringLiteral("-ct"), o.channel);
    o.code = textOption(arguments, QStringLiteral("-cc"), o.code);
    return o;
}

QString readLanguageSetting(const QString &applicationDir, const QString &systemLocale)
{
    const QString path
        = QStringLiteral("%1/sysconfig-language.xml").arg(applicationDir + QLatin1String("/config"));
    QFile file(path);
    if (!file.exists()) {
        qCWarning(lcHaldenStartup).noquote()
            << QStringLiteral("The file{%1} doesn't exist!").arg(path);
        return systemLocale;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcHaldenStartup) << "Couldn't open load file.";
        return systemLocale;
    }
    return parseLanguageSetting(file.readAll(), systemLocale);
}

QString parseLanguageSetting(const QByteArray &content, const QString &systemLocale)
{
    QDomDocument document;
    if (!document.setContent(content))
        return systemLocale;
    const QDomElement ctrl = document.documentElement().firstChildElement(QStringLiteral("ctrl"));
    if (ctrl.isNull())
        return QString();
    if (ctrl.attribute(QStringLiteral("isset")) == QLatin1String("1"))
        return ctrl.attribute(QStringLiteral("language"));
    return systemLocale;
}

void installLanguageAndStyle(QApplication &app, const QString &language)
{
    // A language without a dictionary of its own (a German system, or a
    // settings file that names none) reads English rather than raw keys.
    auto *dictionary = new ZoDictionary(&app); // owned by app
    dictionary->install(QStringLiteral("ZoHaldenUpdate"), language, QDir::currentPath(),
        QApplication::applicationDirPath());

    QFile style(QStringLiteral(":/qss/resource/dark.qss"));
    if (style.open(QIODevice::ReadOnly)) {
        QByteArray bytes = style.readAll();
        const int zero = bytes.indexOf('\0');
        if (zero >= 0)
            bytes.truncate(zero);
        app.setStyleSheet(QString::fromLatin1(bytes));
    }
}

int run(QApplication &app)
{
    const QStringList arguments = QApplication::arguments();
    if (ZoPlatform::relaunchElevated(QApplication::applicationFilePath(), arguments))
        return 0;
    for (int i = 0; i < arguments.size(); ++i)
        qCDebug(lcHaldenStartup).noquote()
            << QStringLiteral("============ %1 %2").arg(i).arg(arguments.at(i));

    const Options o = parseOptions(arguments);
    qCDebug(lcHaldenStartup).noquote()
        << QStringLiteral("Halden version: %1\nHalden type: %2 Halden name: %3 Channnel type: "
                          "%4 Url: %5")
               .arg(o.version)
               .arg(o.type)
               .arg(o.name)
               .arg(o.channel)
               .arg(o.url);

    const QString language
        = readLanguageSetting(QApplication::applicationDirPath(), QLocale::system().name());
    installLanguageAndStyle(app, language);

    ZoHaldenUpdateForm form;
    // Queued: a check that fails at once asks to quit before the loop runs.
    QObject::connect(&form, &ZoHaldenUpdateForm::sigExitRequested, &app, &QCoreApplication::exit,
        Qt::QueuedConnection);
    form.setLanguage(language);
    form.setCurVersion(o.version);
    form.setChannel(o.channel);
    form.setName(o.name);
    form.setCode(o.code);
    form.startCheck(o.url);
    return QApplication::exec();
}

} // namespace ZoHaldenStartup
