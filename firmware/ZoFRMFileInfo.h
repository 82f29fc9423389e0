#pragma once

#include "ZoTypes.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

// One downloaded firmware file. Copies share the data buffer as a plain
// pointer and never free it: the buffer belongs to whoever created it until
// the record is stored in the firmware store, which then owns it and frees
// it when a newer record with the same fid replaces it.
//
// Buffers must come from allocData() (or new tdu1[]), because the store
// frees them with freeData().
//
// File layout (little-endian): a 48-byte header, holding the image length
// at offset 16, a tVersion at 22 and a tFcsDateTime at 30; the image follows.
class ZoFRMFileInfo
{
public:
    static constexpr tdu4 HeaderSize = 48;
    static constexpr tdu4 ImageLengthOffset = 16;
    static constexpr tdu4 VersionOffset = 22;
    static constexpr tdu4 CompileTimeOffset = 30;

    ZoFRMFileInfo();
    ZoFRMFileInfo(const ZoFRMFileInfo &) = default;
    ZoFRMFileInfo &operator=(const ZoFRMFileInfo &) = default;
    virtual ~ZoFRMFileInfo();

    // A new buffer of bytes.size() + 1 bytes (the last one zero) holding a
    // copy of bytes; sets data and size. Any previous buffer is not freed.
    void setDataCopy(const QByteArray &bytes);
    static tdu1 *allocData(tdu4 size);
    static void freeData(tdu1 *data);

    // Header fields, read only when the whole header is present; false (and
    // the output untouched) for a shorter file or no data.
    bool hasHeader() const { return data != nullptr && size >= HeaderSize; }
    bool headerImageLength(tdu4 &length) const;
    bool headerVersion(tVersion &version) const;
    bool headerCompileTime(tFcsDateTime &compileTime) const;
    // Bytes after the header that are actually present (0 without a header),
    // whatever length the header claims.
    tdu4 availableImageSize() const { return hasHeader() ? size - HeaderSize : 0; }

    tdu1 fid = 0;
    tVersion version;
    QString nickName;
    QString nickNameEn;
    QString upgradeDescription;
    QString upgradeDescriptionEn;
    tdu4 size = 0;
    tdu1 *data = nullptr;
};

Q_DECLARE_METATYPE(ZoFRMFileInfo)
