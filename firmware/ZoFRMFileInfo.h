#pragma once

#include "ZoTypes.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

// One downloaded firmware file. Copies share the bytes (QByteArray's implicit
// sharing, safe across threads), so a record costs nothing to pass on and a
// copy stays readable after the store replaced the record it came from.
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

    const QByteArray &bytes() const { return m_bytes; }
    void setBytes(const QByteArray &bytes) { m_bytes = bytes; }
    tdu4 size() const { return tdu4(m_bytes.size()); }

    // Header fields, read only when the whole header is present; false (and
    // the output untouched) for a shorter file or no data.
    bool hasHeader() const { return size() >= HeaderSize; }
    bool headerImageLength(tdu4 &length) const;
    bool headerVersion(tVersion &version) const;
    bool headerCompileTime(tFcsDateTime &compileTime) const;
    // Bytes after the header that are actually present (0 without a header),
    // whatever length the header claims.
    tdu4 availableImageSize() const { return hasHeader() ? size() - HeaderSize : 0; }

    tdu1 fid = 0;
    tVersion version;
    QString nickName;
    QString nickNameEn;
    QString upgradeDescription;
    QString upgradeDescriptionEn;

private:
    const tdu1 *data() const { return reinterpret_cast<const tdu1 *>(m_bytes.constData()); }

    QByteArray m_bytes;
};

Q_DECLARE_METATYPE(ZoFRMFileInfo)
