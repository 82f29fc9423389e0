#pragma once

#include "ZoFRMFileInfo.h"
#include "ZoTypes.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A folder of firmware files that stands in for the cloud's catalogue (an
// offline upgrade). Everything is checked before anything is offered: one
// unusable file refuses the whole folder, and the refusal names the file.
class ZoFirmwareFolder
{
public:
    // A file of the folder, checked but not yet in the store.
    struct File
    {
        QString path;
        QByteArray bytes;
        tVersion version;
    };

    // Every file of the folder (hidden ones aside), at most one per type,
    // none with an image over maxImageBytes (what a transfer can carry);
    // on false nothing is returned and *error names the file.
    static bool read(
        const QString &dir, qint64 maxImageBytes, QList<File> &files, QString *error);
    // Store records, each sharing its file's bytes.
    static QList<ZoFRMFileInfo> records(const QList<File> &files);

private:
    static bool checkFile(const QString &path, const QByteArray &bytes, qint64 maxImageBytes,
        tVersion &version, QString *error);
};
