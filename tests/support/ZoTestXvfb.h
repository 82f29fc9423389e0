#pragma once
// A private X display for tests that run real windowed programs: Xvfb on a
// display number drawn from the process id, well away from the low numbers a
// desktop or another tool uses (several test runs, each in a network namespace
// of its own, must never meet on one display), reachable over its Unix socket
// only, ended with the object. xdotool finds and drives windows on it;
// tolvane-xshot (TOLVANE_XSHOT) photographs it.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

class ZoTestXvfb
{
public:
    ~ZoTestXvfb()
    {
        m_server.terminate();
        if (!m_server.waitForFinished(3000)) {
            m_server.kill();
            m_server.waitForFinished(3000);
        }
    }

    static bool available()
    {
        return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            && !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
    }

    bool start(const QString &screen = QStringLiteral("1280x800x24"))
    {
        // Every display of a test process gets a number of its own: one just
        // ended may still be letting go of its socket.
        static int serial = 0;
        const qint64 pid = QCoreApplication::applicationPid();
        for (int attempt = 0; attempt < 20; ++attempt) {
            const int number = 200 + int((pid * 7 + (serial++) * 37) % 3000);
            if (startOn(number, screen)) {
                m_display = QStringLiteral(":%1").arg(number);
                if (answers())
                    return true;
            }
        }
        m_display.clear();
        return false;
    }

    QString display() const { return m_display; }

    // The caller's environment with this display, for programs started on it.
    QProcessEnvironment environment(
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) const
    {
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // The windows draw without GL; a GL driver loaded for nothing keeps
        // a block from its set-up that the sanitizer build's leak check
        // counts against the program.
        env.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
        return env;
    }

    // Runs an X client (xdotool, tolvane-xshot) on this display; its standard
    // output, or a null array when it failed.
    QByteArray run(const QString &program, const QStringList &arguments, int timeoutMs = 10000) const
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(program, arguments);
        if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit
            || p.exitCode() != 0)
            return QByteArray();
        const QByteArray out = p.readAllStandardOutput();
        return out.isNull() ? QByteArray("") : out;
    }

    // Ids of the visible windows whose title matches the regular expression.
    QStringList windows(const QString &titlePattern) const
    {
        return search(QStringLiteral("--name"), titlePattern);
    }

    // The visible windows of a program (its executable's base name), which
    // finds titles xdotool's name search cannot match (Chinese ones).
    QStringList windowsOf(const QString &program) const
    {
        return search(QStringLiteral("--classname"), QLatin1Char('^') + program + QLatin1Char('$'));
    }

    QString titleOf(const QString &window) const
    {
        return QString::fromUtf8(
            run(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), window}).trimmed());
    }

    QString waitForWindow(const QString &titlePattern, int timeoutMs) const
    {
        QElapsedTimer t;
        t.start();
        do {
            const QStringList ids = windows(titlePattern);
            if (!ids.isEmpty())
                return ids.last();
            QThread::msleep(100);
        } while (t.elapsed() < timeoutMs);
        return QString();
    }

    // Presses keys in a window the way a user at the keyboard would: the
    // window gets the input focus first (there is no window manager to give
    // it), then the keys go through the X test extension.
    bool pressKeys(const QString &window, const QStringList &keys) const
    {
        const QString focus = QStringLiteral("windowfocus --sync %1 key --delay 50").arg(window);
        return !run(QStringLiteral("xdotool"), focus.split(QLatin1Char(' ')) + keys).isNull();
    }

    bool screenshot(const QString &path) const
    {
        return !run(QStringLiteral(TOLVANE_XSHOT), {path}).isNull();
    }

private:
    QStringList search(const QString &by, const QString &pattern) const
    {
        const QByteArray out = run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), by, pattern});
        QStringList ids;
        for (const QByteArray &line : out.split('\n'))
            if (!line.trimmed().isEmpty())
                ids << QString::fromLatin1(line.trimmed());
        return ids;
    }

    // A client can connect and ask the screen's size.
    bool answers() const
    {
        QElapsedTimer t;
        t.start();
        do {
            if (!run(QStringLiteral("xdotool"), {QStringLiteral("getdisplaygeometry")}, 3000).isNull())
                return true;
            QThread::msleep(100);
        } while (t.elapsed() < 5000);
        return false;
    }

    // Xvfb refuses a number whose lock another server holds; it reports the
    // number on standard output once clients can connect.
    bool startOn(int number, const QString &screen)
    {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished(3000);
        }
        m_server.setProcessChannelMode(QProcess::SeparateChannels);
        // -noreset: by default the server resets when its last client leaves,
        // and a program connecting in that moment (just after answers() let
        // go) is turned away with "could not connect to display".
        const QString args = QString::asprintf(
            ":%d -screen 0 %s -nolisten tcp -noreset -displayfd 1", number, qPrintable(screen));
        m_server.start(QStringLiteral("Xvfb"), args.split(QLatin1Char(' ')));
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains('\n') && t.elapsed() < 10000) {
            if (!m_server.waitForReadyRead(500) && m_server.state() == QProcess::NotRunning)
                return false;
            out += m_server.readAllStandardOutput();
        }
        return out.trimmed().toInt() == number;
    }

    QProcess m_server;
    QString m_display;
};
