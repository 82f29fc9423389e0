#pragma once

// Whole-file reads and writes for test fixtures.

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QVariant>

// Empty when the file cannot be read.
inline QByteArray zoReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Creates or truncates the file, and the folders above it; false unless
// every byte was written.
inline bool zoWriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).path())
        && f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Every entry below `root`, hidden ones too, relative to it and sorted.
inline QStringList zoTreeOf(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

// A JSON-lines log, one object a line; a line that is no object reads as an
// empty one.
inline QList<QJsonObject> zoReadJsonLines(const QString &path)
{
    QList<QJsonObject> out;
    for (const QByteArray &line : zoReadFile(path).split('\n'))
        if (!line.isEmpty())
            out << QJsonDocument::fromJson(line).object();
    return out;
}

// A member of a logged event or a report, as text or as a number.
inline QString zoText(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toString();
}
inline int zoNum(const QJsonObject &o, const char *key)
{
    return o.value(QLatin1String(key)).toInt();
}

// The members named in `keys` (separated by blanks) as text, one blank
// between them, so one comparison shows every member that differs.
inline QString zoFields(const QJsonObject &o, const char *keys)
{
    QStringList out;
    for (const QString &key : QString::fromLatin1(keys).split(QLatin1Char(' ')))
        out << o.value(key).toVariant().toString();
    return out.join(QLatin1Char(' '));
}
