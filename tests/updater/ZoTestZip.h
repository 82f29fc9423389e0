#pragma once

// Archives for the extraction tests, written with minizip's own zip side so
// the reader sees exactly what real tools produce, names included that no
// real tool should produce.

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>

#include <zip.h>

struct ZoTestZipEntry
{
    QByteArray name;
    QByteArray data;
    QDateTime time = QDateTime(QDate(2024, 6, 15), QTime(10, 20, 30));
    bool deflate = true;
    // Unix permission bits recorded as an archive made on Unix records them;
    // 0: made on DOS, no mode.
    unsigned mode = 0;
};

inline bool zoWriteTestZip(const QString &path, const QList<ZoTestZipEntry> &entries)
{
    zipFile zf = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zf)
        return false;
    bool ok = true;
    for (const ZoTestZipEntry &e : entries) {
        zip_fileinfo zi {};
        zi.tmz_date.tm_year = uInt(e.time.date().year());
        zi.tmz_date.tm_mon = uInt(e.time.date().month() - 1);
        zi.tmz_date.tm_mday = uInt(e.time.date().day());
        zi.tmz_date.tm_hour = uInt(e.time.time().hour());
        zi.tmz_date.tm_min = uInt(e.time.time().minute());
        zi.tmz_date.tm_sec = uInt(e.time.time().second());
        const uLong madeBy = e.mode ? (3u << 8) | 20u : 0u;
        zi.external_fa = uLong(e.mode ? (0100000u | e.mode) << 16 : 0u);
        ok = ok
            && zipOpenNewFileInZip4_64(zf, e.name.constData(), &zi, nullptr, 0, nullptr, 0,
                   nullptr, e.deflate ? Z_DEFLATED : 0, e.deflate ? Z_DEFAULT_COMPRESSION : 0, 0,
                   -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, madeBy, 0, 0)
                == ZIP_OK;
        if (ok && !e.data.isEmpty())
            ok = zipWriteInFileInZip(zf, e.data.constData(), unsigned(e.data.size())) == ZIP_OK;
        ok = zipCloseFileInZip(zf) == ZIP_OK && ok;
    }
    return zipClose(zf, nullptr) == ZIP_OK && ok;
}
