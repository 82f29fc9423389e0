#pragma once

#include "ZoTypes.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <memory>

// One downloaded firmware file. Copies share the data buffer.
//
// A buffer made by setDataCopy() is owned by the records themselves: it is
// freed when the last copy holding it goes, whether or not one of them was
// ever stored, so a record nobody keeps leaks nothing and a copy fetched from
// the store stays readable after the store replaced it. Such a buffer must
// never be passed to freeData().
//
// A buffer set by hand (data = allocData(n)) has no owner: it belongs to
// whoever created it until the record is stored in the firmware store, which
// then frees it with freeData() when a newer record with the same fid
// replaces it.
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
    // copy of bytes, owned by this record and its copies; sets data and size.
    // A previous buffer without an owner is not freed.
    void setDataCopy(const QByteArray &bytes);
    // Whether data is a buffer the records own (see above), which the store
    // must leave alone.
    bool ownsData() const { return data != nullptr && m_owner.get() == data; }
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

private:
    // Shared by the copies of a record made with setDataCopy(); std::shared_ptr
    // because records cross threads (the store is read from the looper).
    std::shared_ptr<tdu1> m_owner;
};

Q_DECLARE_METATYPE(ZoFRMFileInfo)
