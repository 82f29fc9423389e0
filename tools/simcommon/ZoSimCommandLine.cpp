#include "ZoSimCommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int ZoSimCommandLine::fail(const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
        text.toLocal8Bit().constData());
    return 2;
}

bool ZoSimCommandLine::readInt(const QString &text, qint64 lo, qint64 hi, qint64 *out)
{
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok, 0);
    if (!ok || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

bool ZoSimCommandLine::readPort(const QString &text, bool allowZero, quint16 *out)
{
    qint64 v = 0;
    if (!readInt(text, allowZero ? 0 : 1, 65535, &v))
        return false;
    *out = quint16(v);
    return true;
}

bool ZoSimCommandLine::intOption(const QCommandLineParser &parser, const QCommandLineOption &option,
    qint64 lo, qint64 hi, qint64 *out, QString *error)
{
    if (readInt(parser.value(option), lo, hi, out))
        return true;
    if (error)
        *error
            = QStringLiteral("--%1 must be %2 to %3").arg(option.names().first()).arg(lo).arg(hi);
    return false;
}
