#pragma once

#include "ZoFRMFileInfo.h"
#include "ZoTypes.h"

#include <QByteArray>
#include <QString>

// The firmware files devices confirmed, each kept in one folder under the
// SHA-256 of its bytes (lowercase hex), so that the same file is kept once
// however many devices took it. The folder holds at most `limitBytes`; the
// files used longest ago go first. A file is checked again on its way out: a
// file whose bytes no longer hash to its name, or whose header does not name
// the type asked for or lacks the image it announces, is removed, never given.
class ZoImageCache
{
public:
    static constexpr qint64 DefaultLimitBytes = qint64(512) << 20;

    explicit ZoImageCache(const QString &dir, qint64 limitBytes = DefaultLimitBytes);

    QString dir() const { return m_dir; }
    // Keeps `bytes` (a file kept already is only marked as used now), then
    // makes room. False with `why` when it could not be written.
    bool keep(const QByteArray &bytes, QString *why = nullptr);
    // The kept file whose bytes hash to `sha256`, for a device of `type`,
    // marked as used now. False with `why` when there is none that holds.
    bool take(const QString &sha256, tdu1 type, ZoFRMFileInfo &file, QString *why = nullptr);
    qint64 bytes() const;

private:
    void makeRoom(const QString &keepName);

    QString m_dir;
    qint64 m_limit;
};
