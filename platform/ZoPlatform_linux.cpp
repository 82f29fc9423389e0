#include "ZoPlatform.h"

#include <QDebug>
#include <QSocketNotifier>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QVector>

#include <algorithm>

#include <atomic>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

QString unquoted(QString name)
{
    name = name.trimmed();
    if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
        name = name.mid(1, name.size() - 2);
    return name;
}

QString procPath(pid_t pid, const char *entry)
{
    return QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(entry));
}

// The executable's file name; comm (cut to 15 characters by the kernel)
// only when the link cannot be read.
QString executableNameOf(pid_t pid)
{
    QString target = QFile::symLinkTarget(procPath(pid, "exe"));
    if (!target.isEmpty()) {
        // A program replaced on disk while running still carries its name.
        const QString deleted = QStringLiteral(" (deleted)");
        if (target.endsWith(deleted))
            target.chop(deleted.size());
        return QFileInfo(target).fileName();
    }
    QFile comm(procPath(pid, "comm"));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// Process state and start time from /proc/<pid>/stat; the start time tells
// a process from a later one that was given the same id.
struct ProcStat
{
    bool valid = false;
    char state = 0;
    QByteArray startTime;
};

ProcStat statOf(pid_t pid)
{
    ProcStat st;
    QFile f(procPath(pid, "stat"));
    if (!f.open(QIODevice::ReadOnly))
        return st;
    const QByteArray line = f.readAll();
    // The command name in parentheses may itself hold blanks or parentheses.
    const int close = line.lastIndexOf(')');
    if (close < 0)
        return st;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // fields[0] is the state (field 3), fields[19] the start time (field 22).
    if (fields.size() < 20 || fields.at(0).isEmpty())
        return st;
    st.valid = true;
    st.state = fields.at(0).at(0);
    st.startTime = fields.at(19);
    return st;
}

struct Target
{
    pid_t pid;
    QByteArray startTime;
};

bool isGone(const Target &t)
{
    const ProcStat st = statOf(t.pid);
    // A zombie has ended; only its parent's wait is outstanding.
    return !st.valid || st.startTime != t.startTime || st.state == 'Z' || st.state == 'X';
}

QVector<Target> findTargets(const QString &name)
{
    QVector<Target> targets;
    const pid_t self = getpid();
    const uid_t uid = getuid();
    const QStringList entries
        = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const long value = entry.toLong(&ok);
        if (!ok || value <= 0)
            continue;
        const pid_t pid = static_cast<pid_t>(value);
        if (pid == self)
            continue;
        struct stat info;
        if (::stat(procPath(pid, "").toLocal8Bit().constData(), &info) != 0 || info.st_uid != uid)
            continue;
        if (executableNameOf(pid) != name)
            continue;
        const ProcStat st = statOf(pid);
        if (!st.valid || st.state == 'Z' || st.state == 'X')
            continue;
        targets.append({pid, st.startTime});
    }
    return targets;
}

} // namespace

bool ZoPlatform::isElevated()
{
    return true;
}

bool ZoPlatform::startElevated(const QString &programFilePath, const QString &parameters)
{
    Q_UNUSED(programFilePath)
    Q_UNUSED(parameters)
    return false;
}

QString ZoPlatform::executableName(const QString &program)
{
    return program;
}

bool ZoPlatform::killProcessesByName(const QString &name, int graceMs)
{
    const QString executable = unquoted(name);
    // An empty or path-like name would match nothing sensible.
    if (executable.isEmpty() || executable.contains(QLatin1Char('/')))
        return false;

    QVector<Target> targets = findTargets(executable);
    for (const Target &t : targets)
        ::kill(t.pid, SIGTERM);
    qDebug() << "ZoPlatform::killProcessesByName" << executable << "SIGTERM to" << targets.size();

    QElapsedTimer timer;
    timer.start();
    for (;;) {
        targets.erase(std::remove_if(targets.begin(), targets.end(), isGone), targets.end());
        if (targets.isEmpty() || timer.elapsed() >= graceMs)
            break;
        QThread::msleep(20);
    }

    for (const Target &t : targets) {
        qDebug() << "ZoPlatform::killProcessesByName" << executable << "SIGKILL to" << t.pid;
        ::kill(t.pid, SIGKILL);
    }
    timer.restart();
    while (!targets.isEmpty() && timer.elapsed() < 1000) {
        targets.erase(std::remove_if(targets.begin(), targets.end(), isGone), targets.end());
        if (!targets.isEmpty())
            QThread::msleep(10);
    }
    return targets.isEmpty();
}

bool ZoPlatform::startDetached(const QString &applicationDir, const QString &program,
    const QStringList &arguments, const QString &workingDir, qint64 *pid)
{
    const QString path = QDir(applicationDir).absoluteFilePath(executableName(unquoted(program)));
    return QProcess::startDetached(path, arguments, workingDir, pid);
}

namespace {

int g_stopPipe[2] = {-1, -1};
std::atomic<int> g_interrupts {0};

// Only what is safe in a signal handler: a count, a write, an exit.
void onStopSignal(int signal)
{
    if (signal == SIGINT && g_interrupts.fetch_add(1) >= 1)
        ::_exit(130);
    const char byte = char(signal);
    const ssize_t written = ::write(g_stopPipe[1], &byte, 1);
    (void)written;
}

} // namespace

void ZoPlatform::watchStopRequests(QObject *context, std::function<void(int request)> handler)
{
    if (g_stopPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_stopPipe) != 0)
        return;
    ::fcntl(g_stopPipe[1], F_SETFL, ::fcntl(g_stopPipe[1], F_GETFL) | O_NONBLOCK);
    auto *notifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler] {
        char byte = 0;
        if (::read(g_stopPipe[0], &byte, 1) == 1)
            handler(byte == SIGINT ? StopInterrupt : StopTerminate);
    });
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}
