#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

// What Tolvane and ZoHaldenUpdate need of the operating system: rights,
// executable names, ending a program by name and starting one detached; and
// what tolvane-cli --doctor asks about device nodes and running services.
// One implementation per platform; CMake compiles the right one.
class ZoPlatform
{
public:
    // True when the process already has the rights an installation needs.
    // Platforms without an elevation mechanism report true: there is
    // nothing to restart for.
    static bool isElevated();

    // Starts program again with elevated rights and the given parameter
    // string; true when the elevated copy was started. Always false where
    // there is no elevation mechanism.
    static bool startElevated(const QString &programFilePath, const QString &parameters);

    // The parameter string of an elevated restart, or a null string when the
    // process goes on as it is: it has the rights already, does not run from
    // drive C, or is itself the restarted copy ("runas" first).
    static QString elevatedRestartParameters(
        bool elevated, const QString &programFilePath, const QStringList &arguments);
    // Both programs' first step: true when an elevated copy was started and
    // the caller is to exit at once.
    static bool relaunchElevated(const QString &programFilePath, const QStringList &arguments);

    // The file name of program's executable: "ZoHaldenUpdate" becomes
    // "ZoHaldenUpdate.exe" on Windows and stays as it is elsewhere.
    static QString executableName(const QString &program);

    // Ends every process of this user whose executable is called name
    // (surrounding double quotes are ignored), never the calling process.
    // Where signals exist they are asked to stop first and killed once
    // graceMs has passed. True when none of them is left running.
    static bool killProcessesByName(const QString &name, int graceMs = 2000);

    // Starts program (a name as executableName() takes it, surrounding
    // double quotes ignored) from
    // applicationDir, detached, in workingDir. pid receives its process id.
    static bool startDetached(const QString &applicationDir, const QString &program,
        const QStringList &arguments, const QString &workingDir, qint64 *pid = nullptr);

    // Whether path (a folder or a file) belongs to the system's package
    // manager, which alone is to change what lies there: on Linux anything
    // under /usr but /usr/local, and whatever dpkg's file lists name (read
    // through, so not for every start). Nothing is so owned on Windows.
    static bool isPackageManaged(const QString &path);

    // Requests from outside to stop: Ctrl-C (2), and a termination signal or
    // the console closing (15).
    enum StopRequest : int { StopInterrupt = 2, StopTerminate = 15 };
    // From now on each request calls `handler` on the thread `context` lives
    // on, in its event loop; a second Ctrl-C ends the process at once with
    // exit code 130. Once per process.
    static void watchStopRequests(QObject *context, std::function<void(int request)> handler);
    // A person's go-ahead to a program that waits for one as a service:
    // SIGUSR1 calls `handler` on the thread `context` lives on. Once per
    // process; nothing arrives where there is no such signal (Windows).
    static void watchGoAheadRequests(QObject *context, std::function<void()> handler);

    // A device node as tolvane-cli --doctor describes it. Where devices are
    // no files with an owner and a mode (Windows), applicable is false and
    // nothing else is filled in.
    struct DeviceNode
    {
        bool applicable = false;
        bool exists = false;
        QString owner;
        QString group;
        QString mode; // as ls -l shows it, "crw-rw----"
        bool readWrite = false; // this process may open it for reading and writing
        bool ownedByUser = false;
        bool groupReadWrite = false; // the node's group may read and write it
        bool othersReadWrite = false;
        bool inGroup = false; // this process holds the node's group
        // The group database lists this user in the node's group: true with
        // inGroup false means the user was added after logging in.
        bool listedInGroup = false;
    };
    static DeviceNode deviceNode(const QString &path);

    // Nodes of USB serial adapters, whether or not the system's port
    // enumeration lists them; empty where there are no such nodes.
    static QStringList serialAdapterNodes();

    // The names of the groups this process holds (its login's, fixed when
    // the user logged in); empty where groups do not apply.
    static QStringList processGroupNames();

    enum ProcessPresence { ProcessAbsent, ProcessRunning, ProcessUnknown };
    // Whether a process of any user named name runs; ProcessUnknown where
    // other users' processes cannot be listed.
    static ProcessPresence processPresence(const QString &name);
};
