#pragma once

#include <QString>
#include <QStringList>

#include "ZoTypes.h"

class QApplication;

// ZoHaldenUpdate's start-up, step by step, each step taking what it reads as
// parameters so that it can be driven against a scratch installation.
namespace ZoHaldenStartup {

struct Options
{
    QString version; // "-v": the installed version
    tds4 type = -1; // "-t": only logged
    QString name; // "-k": the application's executable name
    QString url; // "-url": where the release check is posted
    tds4 channel = -1; // "-ct"
    QString code; // "-cc"
};

// Reads the options from the whole argument list (the program path first).
// An option's value is the argument after its first occurrence; one given
// last keeps its default.
Options parseOptions(const QStringList &arguments);

// The working language from applicationDir + "/config/sysconfig-language.xml",
// or systemLocale when the file is missing, unreadable, malformed or does not
// mark a choice. Empty when the file has no "ctrl" element.
QString readLanguageSetting(const QString &applicationDir, const QString &systemLocale);

// The language a settings file's content names: its first "ctrl" element's
// "language" when "isset" is "1", systemLocale when the content is no XML or
// marks no choice, empty when there is no "ctrl" element.
QString parseLanguageSetting(const QByteArray &content, const QString &systemLocale);

// Installs the dictionary of language (English when there is none for it)
// by ZoDictionary's rule, mostly the one compiled in, and the embedded style
// sheet into the application; the dictionary lives as long as the
// application.
void installLanguageAndStyle(QApplication &app, const QString &language);

// Everything after the application object exists: the form is set up, the
// check sent and the event loop run. The program's exit code.
int run(QApplication &app);

} // namespace ZoHaldenStartup
