#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Tolvane's start-up sequence, step by step. Every step takes the folders
// it works in as parameters so that it can run against a scratch
// installation; main() passes the real ones.
namespace ZoStartup {

extern const char *const ApplicationVersion; // "2.1.9.2"
extern const char *const UpdaterProgram; // "ZoHaldenUpdate"
extern const char *const UpdateStagingDir; // "/updateExeDir/"
extern const char *const DictionaryPrefix; // "FlashbayUpdate"
extern const int ClientType; // 7

struct Environment
{
    QString applicationFilePath;
    QString applicationDir;
    // The executable's base name, which the updater ends by name.
    QString applicationName;
    // "dict" is looked for here first (a portable copy, the build tree),
    // then in applicationDir (an installation), as ZoDictionary says. The
    // configuration files are where ZoTvkInstance::configDir() says.
    QString workingDir;
    QStringList arguments;
    QString systemLocale;
};

// The values of the running process.
Environment currentEnvironment(const QStringList &arguments);

// True when an elevated copy was started; the caller then exits at once.
bool relaunchElevated(const Environment &env);

// Puts a staged updater from applicationDir + "/updateExeDir/" in place.
// True when the updater was replaced; the outcome is logged either way.
bool copyCoverFile(const QString &applicationDir);

// Loads sysconfig.xml and busdevcfg.xml through ZoTvkInstance (from its
// configDir()) and returns the working language: the
// configured one, else systemLocale, which then becomes the configuration's
// language in memory.
QString loadConfiguration(const QString &systemLocale);

// "-v", "-k", "-ct" and "-url" for the updater.
QStringList updaterArguments(const QString &applicationName);
// Runs the updater from applicationDir and waits for it: its exit code, -2
// when it cannot be started, -1 when it crashed.
int startHaldenUpdateProcess(const QString &applicationDir, const QString &applicationName);
// The warning shown when the updater could not be run.
void showUpdaterFailure();

// The whole sequence after the application object (a QApplication) exists. runWindow
// creates and shows the main window and runs the event loop; its result is
// returned. 0 when the program hands over to an elevated copy or the
// updater could not be run.
int run(const Environment &env, const std::function<int()> &runWindow);

} // namespace ZoStartup
