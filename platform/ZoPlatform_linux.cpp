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
#include <grp.h>
#include <pwd.h>
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

// The file system's own layout: /usr is the distribution's, /usr/local the
// local administrator's.
bool underSystemPrefix(const QString &path)
{
    const auto within = [&path](const QString &root) {
        return path == root || path.startsWith(root + QLatin1Char('/'));
    };
    return within(QStringLiteral("/usr")) && !within(QStringLiteral("/usr/local"));
}

// dpkg keeps one list per package of every folder and file it installed, one
// absolute path a line.
bool listedByDpkg(const QStringList &paths)
{
    const QDir lists(QStringLiteral("/var/lib/dpkg/info"));
    QList<QByteArray> lines;
    for (const QString &path : paths)
        lines << '\n' + QFile::encodeName(path) + '\n';
    for (const QString &name : lists.entryList({QStringLiteral("*.list")}, QDir::Files)) {
        QFile list(lists.filePath(name));
        if (!list.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = '\n' + list.readAll();
        for (const QByteArray &line : lines)
            if (content.contains(line))
                return true;
    }
    return false;
}

} // namespace

bool ZoPlatform::isPackageManaged(const QString &path)
{
    const QFileInfo info(path);
    QStringList paths {QDir::cleanPath(info.absoluteFilePath())};
    // A package's files may be reached through a link, and dpkg may have
    // recorded either name (/bin/x and /usr/bin/x on a merged /usr).
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty() && canonical != paths.first())
        paths << canonical;
    for (const QString &p : paths)
        if (underSystemPrefix(p))
            return true;
    return listedByDpkg(paths);
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

namespace {

int g_goAheadPipe[2] = {-1, -1};

void onGoAheadSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(g_goAheadPipe[1], &byte, 1);
    (void)written;
}

} // namespace

void ZoPlatform::watchGoAheadRequests(QObject *context, std::function<void()> handler)
{
    if (g_goAheadPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_goAheadPipe) != 0)
        return;
    ::fcntl(g_goAheadPipe[1], F_SETFL, ::fcntl(g_goAheadPipe[1], F_GETFL) | O_NONBLOCK);
    auto *notifier = new QSocketNotifier(g_goAheadPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler] {
        char byte = 0;
        if (::read(g_goAheadPipe[0], &byte, 1) == 1)
            handler();
    });
    struct sigaction action = {};
    action.sa_handler = onGoAheadSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGUSR1, &action, nullptr);
}

namespace {

// getpwuid_r and getgrgid_r want a buffer whose size the system suggests.
QByteArray entryBuffer(int which)
{
    const long size = ::sysconf(which);
    return QByteArray(size > 0 ? int(size) : 16384, Qt::Uninitialized);
}

QString userNameOf(uid_t uid)
{
    QByteArray buffer = entryBuffer(_SC_GETPW_R_SIZE_MAX);
    struct passwd entry;
    struct passwd *found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), size_t(buffer.size()), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

// The group's name, and whether its member list (or the user's primary
// group) names user.
QString groupNameOf(gid_t gid, const QByteArray &user, gid_t userPrimaryGroup, bool *listsUser)
{
    *listsUser = gid == userPrimaryGroup;
    QByteArray buffer = entryBuffer(_SC_GETGR_R_SIZE_MAX);
    struct group entry;
    struct group *found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), size_t(buffer.size()), &found) != 0 || !found)
        return QString::number(gid);
    for (char **member = found->gr_mem; member && *member; ++member)
        if (user == *member)
            *listsUser = true;
    return QString::fromLocal8Bit(found->gr_name);
}

bool processHoldsGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    QVector<gid_t> groups(count);
    const int filled = ::getgroups(count, groups.data());
    const auto end = groups.begin() + std::max(filled, 0);
    return std::find(groups.begin(), end, gid) != end;
}

QString modeText(mode_t mode)
{
    QString text(10, QLatin1Char('-'));
    if (S_ISCHR(mode))
        text[0] = QLatin1Char('c');
    else if (S_ISBLK(mode))
        text[0] = QLatin1Char('b');
    else if (S_ISDIR(mode))
        text[0] = QLatin1Char('d');
    else if (S_ISLNK(mode))
        text[0] = QLatin1Char('l');
    const mode_t bits[9]
        = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    const char letters[] = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (mode & bits[i])
            text[i + 1] = QLatin1Char(letters[i]);
    return text;
}

} // namespace

ZoPlatform::DeviceNode ZoPlatform::deviceNode(const QString &path)
{
    DeviceNode node;
    node.applicable = true;
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (::stat(native.constData(), &info) != 0)
        return node;
    node.exists = true;
    node.owner = userNameOf(info.st_uid);
    node.mode = modeText(info.st_mode);
    // Effective ids, as open(2) checks them; ACLs a login session grants on
    // the node count too.
    node.readWrite = ::faccessat(AT_FDCWD, native.constData(), R_OK | W_OK, AT_EACCESS) == 0;
    node.ownedByUser = info.st_uid == ::geteuid();
    node.groupReadWrite = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    node.othersReadWrite = (info.st_mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH);
    node.inGroup = processHoldsGroup(info.st_gid);

    QByteArray buffer = entryBuffer(_SC_GETPW_R_SIZE_MAX);
    struct passwd entry;
    struct passwd *user = nullptr;
    const int looked
        = ::getpwuid_r(::geteuid(), &entry, buffer.data(), size_t(buffer.size()), &user);
    const bool known = looked == 0 && user;
    node.group = groupNameOf(info.st_gid, known ? QByteArray(user->pw_name) : QByteArray(),
        known ? user->pw_gid : gid_t(-1), &node.listedInGroup);
    return node;
}

QStringList ZoPlatform::processGroupNames()
{
    const int count = ::getgroups(0, nullptr);
    QVector<gid_t> groups(std::max(count, 0));
    const int filled = count > 0 ? ::getgroups(count, groups.data()) : 0;
    groups.resize(std::max(filled, 0));
    if (!groups.contains(::getegid()))
        groups.append(::getegid());
    QStringList names;
    bool unused = false;
    for (const gid_t gid : qAsConst(groups))
        names.append(groupNameOf(gid, QByteArray(), gid_t(-1), &unused));
    return names;
}

QStringList ZoPlatform::serialAdapterNodes()
{
    const QDir dev(QStringLiteral("/dev"));
    QStringList nodes;
    // Device files are "system" entries to QDir.
    for (const QString &name : dev.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
             QDir::System | QDir::Files, QDir::Name))
        nodes.append(dev.filePath(name));
    return nodes;
}

ZoPlatform::ProcessPresence ZoPlatform::processPresence(const QString &name)
{
    const QDir proc(QStringLiteral("/proc"));
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    // The kernel keeps the first 15 characters of a process's name.
    const QString wanted = name.left(15);
    bool sawAny = false;
    for (const QString &entry : entries) {
        bool ok = false;
        entry.toLong(&ok);
        if (!ok)
            continue;
        QFile comm(proc.filePath(entry + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        sawAny = true;
        if (QString::fromLocal8Bit(comm.readAll()).trimmed() == wanted)
            return ProcessRunning;
    }
    // Not even this process's own entry: /proc is missing or hidden.
    return sawAny ? ProcessAbsent : ProcessUnknown;
}
