#pragma once

#include <QString>

class QCommandLineOption;
class QCommandLineParser;

// Reading the tools' option values one way: numbers in decimal, or with a
// 0x / 0 prefix in hexadecimal / octal, always range-checked, and one form of
// error message.
class ZoSimCommandLine
{
public:
    // Writes "<application name>: text" to standard error and returns 2, the
    // tools' exit code for a bad command line.
    static int fail(const QString &text);

    static bool readInt(const QString &text, qint64 lo, qint64 hi, qint64 *out);
    // A TCP or UDP port; 0 (any free port) only when allowed.
    static bool readPort(const QString &text, bool allowZero, quint16 *out);

    // The value of option, which must be set, within lo..hi; otherwise error
    // reads "--<name> must be <lo> to <hi>".
    static bool intOption(const QCommandLineParser &parser, const QCommandLineOption &option,
        qint64 lo, qint64 hi, qint64 *out, QString *error);
};
