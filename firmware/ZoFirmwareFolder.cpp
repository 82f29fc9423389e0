#include "ZoFirmwareFolder.h"

#include "ZoLittleEndian.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

namespace {

bool refuse(QString *error, const QString &path, const QString &why)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
    return false;
}

} // namespace

bool ZoFirmwareFolder::checkFile(const QString &path, const QByteArray &bytes,
    qint64 maxImageBytes, tVersion &version, QString *error)
{
    // A truncated copy would be flashed with filler and trailing bytes would
    // be flashed as code: the image must be exactly what the header announces.
    const int header = int(ZoFRMFileInfo::HeaderSize);
    if (bytes.size() < header)
        return refuse(error, path,
            QStringLiteral("%1 bytes, shorter than the %2-byte firmware header")
                .arg(bytes.size())
                .arg(header));
    const auto *v
        = reinterpret_cast<const unsigned char *>(bytes.constData()) + ZoFRMFileInfo::VersionOffset;
    tVersion read;
    read.type = v[0];
    read.major = v[1];
    read.minor = v[2];
    read.revision = v[3];
    if (read.type == 0)
        return refuse(error, path, QStringLiteral("the header names no device type"));
    const tdu4 announced = ZoLittleEndian::read32(bytes, int(ZoFRMFileInfo::ImageLengthOffset));
    const tdu4 present = tdu4(bytes.size() - header);
    if (announced == 0)
        return refuse(error, path, QStringLiteral("the header announces no image"));
    if (announced != present)
        return refuse(error, path,
            QStringLiteral("the header announces %1 image bytes, the file holds %2")
                .arg(announced)
                .arg(present));
    if (qint64(announced) > maxImageBytes)
        return refuse(error, path,
            QStringLiteral("an image of %1 bytes is more than a transfer can carry (%2)")
                .arg(announced)
                .arg(maxImageBytes));
    version = read;
    return true;
}

bool ZoFirmwareFolder::read(
    const QString &dir, qint64 maxImageBytes, QList<File> &files, QString *error)
{
    files.clear();
    // Regular files only: a pipe or a device would block the read. Without
    // QDir::Readable in the filter an unreadable file is named, not skipped.
    const QFileInfoList all
        = QDir(dir).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    QList<File> found;
    QMap<tdu1, QString> byType;
    for (const QFileInfo &info : all) {
        File f;
        f.path = info.filePath();
        QFile file(f.path);
        if (!file.open(QIODevice::ReadOnly))
            return refuse(
                error, f.path, QStringLiteral("cannot be read: %1").arg(file.errorString()));
        // Nothing this family flashes comes near it; a bigger file is not
        // firmware and is not read into memory whole.
        if (file.size() > qint64(ZoFRMFileInfo::HeaderSize) + maxImageBytes)
            return refuse(error, f.path,
                QStringLiteral("%1 bytes, too big for a firmware file").arg(file.size()));
        f.bytes = file.readAll();
        if (!checkFile(f.path, f.bytes, maxImageBytes, f.version, error))
            return false;
        if (byType.contains(f.version.type)) {
            if (error)
                *error = QStringLiteral("%1 and %2 both hold firmware for type %3")
                             .arg(QDir::toNativeSeparators(byType.value(f.version.type)),
                                 QDir::toNativeSeparators(f.path))
                             .arg(f.version.type);
            return false;
        }
        byType.insert(f.version.type, f.path);
        found << f;
    }
    if (found.isEmpty())
        return refuse(error, dir, QStringLiteral("no firmware files"));
    files = found;
    return true;
}

QList<ZoFRMFileInfo> ZoFirmwareFolder::records(const QList<File> &files)
{
    QList<ZoFRMFileInfo> records;
    for (const File &f : files) {
        ZoFRMFileInfo info;
        info.fid = f.version.type;
        info.version = f.version;
        info.nickName = QFileInfo(f.path).fileName();
        info.nickNameEn = info.nickName;
        info.upgradeDescription = QStringLiteral("local file %1").arg(info.nickName);
        info.upgradeDescriptionEn = info.upgradeDescription;
        info.setBytes(f.bytes);
        records << info;
    }
    return records;
}
