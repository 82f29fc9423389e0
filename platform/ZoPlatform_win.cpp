#include "ZoPlatform.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QPointer>
#include <QProcess>

#include <atomic>

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

namespace {

QString unquoted(QString name)
{
    name = name.trimmed();
    if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
        name = name.mid(1, name.size() - 2);
    return name;
}

} // namespace

bool ZoPlatform::isElevated()
{
    return IsUserAnAdmin() != FALSE;
}

bool ZoPlatform::startElevated(const QString &programFilePath, const QString &parameters)
{
    const QByteArray file = QDir::toNativeSeparators(programFilePath).toLocal8Bit();
    const QByteArray params = parameters.toLocal8Bit();
    const HINSTANCE result = ShellExecuteA(
        nullptr, "runas", file.constData(), params.constData(), nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

QString ZoPlatform::executableName(const QString &program)
{
    // The updater's "-k" already carries the suffix.
    if (program.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive))
        return program;
    return program + QStringLiteral(".exe");
}

bool ZoPlatform::killProcessesByName(const QString &name, int graceMs)
{
    Q_UNUSED(graceMs) // taskkill /f ends the process at once
    const QString image = unquoted(name);
    if (image.isEmpty())
        return false;
    // taskkill /im alone would end this process too when it carries the name.
    const QString filter = QStringLiteral("PID ne %1").arg(QCoreApplication::applicationPid());
    const int code = QProcess::execute(QStringLiteral("taskkill"),
        {QStringLiteral("/im"), image, QStringLiteral("/fi"), filter, QStringLiteral("/f")});
    qDebug() << "ZoPlatform::killProcessesByName" << image << "taskkill" << code;
    // 128: no such process, which leaves nothing running either.
    return code == 0 || code == 128;
}

bool ZoPlatform::startDetached(const QString &applicationDir, const QString &program,
    const QStringList &arguments, const QString &workingDir, qint64 *pid)
{
    const QString path = QDir(applicationDir).absoluteFilePath(executableName(unquoted(program)));
    return QProcess::startDetached(path, arguments, workingDir, pid);
}

// An installer leaves its folder to whoever runs with the rights for it, and
// the updater restarts itself with those rights: nothing here belongs to a
// package manager the updater must leave alone.
bool ZoPlatform::isPackageManaged(const QString &path)
{
    Q_UNUSED(path)
    return false;
}

namespace {

QPointer<QObject> g_stopContext;
std::function<void(int)> g_stopHandler;
std::atomic<int> g_interrupts {0};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    int request = ZoPlatform::StopTerminate;
    if (event == CTRL_C_EVENT) {
        if (g_interrupts.fetch_add(1) >= 1)
            ExitProcess(130);
        request = ZoPlatform::StopInterrupt;
    }
    QObject *context = g_stopContext.data();
    if (!context)
        return FALSE;
    QMetaObject::invokeMethod(
        context, [request] { g_stopHandler(request); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

void ZoPlatform::watchStopRequests(QObject *context, std::function<void(int request)> handler)
{
    if (g_stopContext)
        return;
    g_stopContext = context;
    g_stopHandler = std::move(handler);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

// No signal carries a go-ahead here; a console's Enter still does.
void ZoPlatform::watchGoAheadRequests(QObject *context, std::function<void()> handler)
{
    Q_UNUSED(context)
    Q_UNUSED(handler)
}

// Serial ports are no files here: nothing has an owner or a mode, and no
// service is known to take them over.
ZoPlatform::DeviceNode ZoPlatform::deviceNode(const QString &path)
{
    Q_UNUSED(path)
    return DeviceNode();
}

QStringList ZoPlatform::serialAdapterNodes()
{
    return QStringList();
}

QStringList ZoPlatform::processGroupNames()
{
    return {};
}

ZoPlatform::ProcessPresence ZoPlatform::processPresence(const QString &name)
{
    Q_UNUSED(name)
    return ProcessUnknown;
}
