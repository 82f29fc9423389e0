#pragma once

#include <QObject>
#include <QString>

#include "ZoTypes.h"

// Extracts a release archive entry by entry into the installation
// directory, overwriting what is there. Made afresh for every extraction on
// the thread that runs it; keeps nothing between calls.
class ZoZipHelper : public QObject
{
    Q_OBJECT
public:
    explicit ZoZipHelper(QObject *parent = nullptr);

    // True when every entry of the archive was visited and the archive closed
    // cleanly; a single entry that fails is logged and skipped. Entries that
    // would land outside destDir are refused. Emits sigUpZipFinished exactly
    // once, with the result.
    bool upzip(const QString &zipPath, const QString &destDir);

Q_SIGNALS:
    void sigUpZipProgress(tds8 unzipFileNum, tds8 totalFileNum);
    void sigUpZipFinished(bool isSucc);

private:
    bool fail();
};
