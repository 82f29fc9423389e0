#include "ZoZipHelper.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTime>

#include <unzip.h>

#include <cstring>
#include <vector>

Q_LOGGING_CATEGORY(lcHaldenUnzip, "haldenupdate.unzip")

namespace {

constexpr int kCopyBufferSize = 10240;
constexpr uLong kNameBufferSize = 256;
constexpr uLong kExtraBufferSize = 256;
constexpr uLong kCommentBufferSize = 64;

// Names that point out of the destination however the target path is put
// together, on this platform or on the one the archive was made on: absolute
// paths, drive letters and ".." steps, with either kind of slash.
bool isUnsafeEntryName(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\')))
        return true;
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':') && name.at(0).isLetter())
        return true;
    int start = 0;
    for (int i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name.at(i) == QLatin1Char('/') || name.at(i) == QLatin1Char('\\')) {
            if (i - start == 2 && name.at(start) == QLatin1Char('.')
                && name.at(start + 1) == QLatin1Char('.'))
                return true;
            start = i + 1;
        }
    }
    return false;
}

bool isWithin(const QString &canonicalRoot, const QString &canonicalPath)
{
    if (canonicalPath == canonicalRoot)
        return true;
    const QString prefix = canonicalRoot.endsWith(QLatin1Char('/'))
        ? canonicalRoot
        : canonicalRoot + QLatin1Char('/');
    return canonicalPath.startsWith(prefix);
}

// Where writing target would really land, links followed, must be inside the
// root. Checked before any directory of the target is made, so a link already
// in the installation cannot carry the extraction elsewhere.
bool staysWithin(const QString &canonicalRoot, const QString &target)
{
    const QFileInfo fi(target);
    if (fi.isSymLink()) {
        const QString resolved = fi.canonicalFilePath(); // empty when dangling
        return !resolved.isEmpty() && isWithin(canonicalRoot, resolved);
    }
    QString existing = QDir::cleanPath(fi.absoluteFilePath());
    while (!QFileInfo::exists(existing)) {
        const QString up = QFileInfo(existing).path();
        if (up == existing)
            return false;
        existing = up;
    }
    const QString resolved = QFileInfo(existing).canonicalFilePath();
    return !resolved.isEmpty() && isWithin(canonicalRoot, resolved);
}

// The permissions an archive made on a Unix system records for a regular
// file, so that programs in a release stay runnable (the updater a release
// stages under updateExeDir/ among them). The owner keeps read and write
// whatever the archive says, or the next release could not replace the file.
// Nothing when the archive carries no Unix mode.
QFileDevice::Permissions entryPermissions(const unz_file_info64 &info)
{
    constexpr uLong kMadeOnUnix = 3;
    const uLong mode = uLong(info.external_fa >> 16);
    if ((info.version >> 8) != kMadeOnUnix || (mode & 0170000) != 0100000)
        return {};
    QFileDevice::Permissions p = QFileDevice::ReadOwner | QFileDevice::WriteOwner
        | QFileDevice::ReadUser | QFileDevice::WriteUser;
    if (mode & 0100)
        p |= QFileDevice::ExeOwner | QFileDevice::ExeUser;
    if (mode & 040)
        p |= QFileDevice::ReadGroup;
    if (mode & 020)
        p |= QFileDevice::WriteGroup;
    if (mode & 010)
        p |= QFileDevice::ExeGroup;
    if (mode & 04)
        p |= QFileDevice::ReadOther;
    if (mode & 02)
        p |= QFileDevice::WriteOther;
    if (mode & 01)
        p |= QFileDevice::ExeOther;
    return p;
}

// The entry's DOS date and time as minizip decoded it; invalid when the
// archive holds nonsense there.
QDateTime entryDateTime(const tm_unz &t)
{
    if (t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59
        || t.tm_sec > 59 || t.tm_year > 9999)
        return QDateTime();
    return QDateTime(QDate(int(t.tm_year), int(t.tm_mon) + 1, int(t.tm_mday)),
        QTime(int(t.tm_hour), int(t.tm_min), int(t.tm_sec)), Qt::LocalTime);
}

// Reads every entry once, decompressing it and letting minizip check its
// CRC on close, without writing anything. Extraction writes in place, so a
// damaged archive found half-way would leave an installation that may no
// longer start; this pass turns that into a clean refusal up front. Leaves
// the archive positioned after its last entry.
bool archiveReadsWhole(unzFile uf, std::vector<char> &buffer)
{
    int rc = unzGoToFirstFile(uf);
    tds8 index = 0;
    while (rc == UNZ_OK) {
        rc = unzOpenCurrentFile(uf);
        if (rc != UNZ_OK) {
            qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() - Fail to unzOpenCurrentFile" << rc
                                   << "checking entry" << index;
            return false;
        }
        int got;
        do {
            got = unzReadCurrentFile(uf, buffer.data(), unsigned(buffer.size()));
        } while (got > 0);
        rc = unzCloseCurrentFile(uf);
        if (got < 0 || rc != UNZ_OK) {
            qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() - Fail to unzCloseCurrentFile"
                                   << (got < 0 ? got : rc) << "checking entry" << index;
            return false;
        }
        ++index;
        rc = unzGoToNextFile(uf);
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE) {
        qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() - Fail to unzGoToNextFile" << rc
                               << "checking entry" << index;
        return false;
    }
    return true;
}

// The archive handle, closed however the walk ends. close() reports what
// the library says, since a clean close is part of a good extraction.
class UnzArchive
{
public:
    explicit UnzArchive(const QString &path)
        : m_uf(unzOpen64(QFile::encodeName(path).constData()))
    {
    }
    ~UnzArchive()
    {
        if (m_uf)
            unzClose(m_uf);
    }
    UnzArchive(const UnzArchive &) = delete;
    UnzArchive &operator=(const UnzArchive &) = delete;

    unzFile handle() const { return m_uf; }
    int close()
    {
        const int rc = unzClose(m_uf);
        m_uf = nullptr;
        return rc;
    }

private:
    unzFile m_uf;
};

// The entry's name, whole: a name longer than the 256-byte buffer would
// come back cut short and name some other file. False when the library
// cannot say.
bool readEntryName(unzFile uf, const unz_file_info64 &info, const char *buffer,
    std::vector<char> &longName, QString &name)
{
    const char *raw = buffer;
    size_t length = strnlen(buffer, kNameBufferSize);
    if (info.size_filename > kNameBufferSize) {
        longName.assign(info.size_filename + 1, '\0');
        const int rc = unzGetCurrentFileInfo64(
            uf, nullptr, longName.data(), uLong(longName.size()), nullptr, 0, nullptr, 0);
        if (rc != UNZ_OK) {
            qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() - Fail to unzGetCurrentFileInfo64" << rc;
            return false;
        }
        raw = longName.data();
        length = strnlen(longName.data(), longName.size());
    }
    name = QString::fromLocal8Bit(raw, int(length));
    return true;
}

// Copies the open entry into out through buffer; false when a read or a
// write fell short.
bool copyEntry(unzFile uf, QFile &out, std::vector<char> &buffer)
{
    bool whole = true;
    for (;;) {
        const int got = unzReadCurrentFile(uf, buffer.data(), unsigned(buffer.size()));
        if (got < 0) {
            qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() - Fail to unzReadCurrentFile" << got;
            whole = false;
        }
        if (got <= 0)
            break;
        const qint64 written = out.write(buffer.data(), got);
        if (written < got) {
            qCDebug(lcHaldenUnzip)
                << "ZoZipHelper::upzip() - Write data has some wrong!!" << written << got;
            whole = false;
        }
    }
    if (!out.flush()) {
        qCDebug(lcHaldenUnzip)
            << "ZoZipHelper::upzip() - Write data has some wrong!!" << out.errorString();
        whole = false;
    }
    return whole;
}

void stampEntry(QFile &out, const unz_file_info64 &info)
{
    const QDateTime stamp = entryDateTime(info.tmu_date);
    if (stamp.isValid()) {
#ifdef Q_OS_WIN
        out.setFileTime(stamp, QFileDevice::FileBirthTime);
#endif
        out.setFileTime(stamp, QFileDevice::FileModificationTime);
        out.setFileTime(stamp, QFileDevice::FileAccessTime);
    }
    if (const QFileDevice::Permissions p = entryPermissions(info))
        out.setPermissions(p);
}

// Writes the archive's current entry below destDir. False when the entry
// was meant to be installed but could not be, whole; a refused entry (one
// that would land outside the destination) and a directory entry are no
// damage.
bool extractEntry(unzFile uf, const QString &destDir, const QString &canonicalRoot,
    std::vector<char> &buffer, std::vector<char> &longName)
{
    unz_file_info64 info;
    char nameBuffer[kNameBufferSize];
    char extraBuffer[kExtraBufferSize];
    char commentBuffer[kCommentBufferSize];
    int rc = unzGetCurrentFileInfo64(uf, &info, nameBuffer, kNameBufferSize, extraBuffer,
        kExtraBufferSize, commentBuffer, kCommentBufferSize - 1);
    if (rc != UNZ_OK) {
        qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() - Fail to unzGetCurrentFileInfo64" << rc;
        return true;
    }
    QString name;
    if (!readEntryName(uf, info, nameBuffer, longName, name))
        return true;
    const QString target = destDir + QDir::separator() + name;
    if (isUnsafeEntryName(name) || !staysWithin(canonicalRoot, target)) {
        qCWarning(lcHaldenUnzip).noquote()
            << "ZoZipHelper::upzip() - Refuse entry outside the destination:" << name;
        return true;
    }

    const QFileInfo targetInfo(target);
    if (targetInfo.exists()) {
        qCDebug(lcHaldenUnzip).noquote()
            << "ZoZipHelper::upzip() - file had existed!!" << targetInfo.absoluteFilePath();
    } else if (!QDir(targetInfo.absolutePath()).exists()) {
        QDir().mkpath(targetInfo.absolutePath());
    }

    rc = unzOpenCurrentFile(uf);
    if (rc != UNZ_OK) {
        qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() - Fail to unzOpenCurrentFile" << rc;
        return false;
    }
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        unzCloseCurrentFile(uf);
        // A directory entry ends here; its directory exists by now.
        qCDebug(lcHaldenUnzip).noquote() << "ZoZipHelper::upzip() - Fail to open Writing File"
                                         << targetInfo.absoluteFilePath() << out.errorString();
        return name.endsWith(QLatin1Char('/')) || name.endsWith(QLatin1Char('\\'));
    }
    bool whole = copyEntry(uf, out, buffer);
    stampEntry(out, info);
    out.close();
    rc = unzCloseCurrentFile(uf);
    if (rc != UNZ_OK) {
        qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() - Fail to unzCloseCurrentFile" << rc;
        whole = false;
    }
    return whole;
}

} // namespace

ZoZipHelper::ZoZipHelper(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<tds8>("tds8");
}

bool ZoZipHelper::fail()
{
    Q_EMIT sigUpZipFinished(false);
    return false;
}

bool ZoZipHelper::upzip(const QString &zipPath, const QString &destDir)
{
    if (!QFileInfo::exists(zipPath)) {
        qCWarning(lcHaldenUnzip).noquote() << "ZoZipHelper::upzip() - no archive at" << zipPath;
        return fail();
    }
    if (!QDir(destDir).exists() && !QDir().mkpath(destDir)) {
        qCCritical(lcHaldenUnzip).noquote() << "ZoZipHelper::upzip() - Fail to mkpath()" << destDir;
        return fail();
    }
    const QString canonicalRoot = QFileInfo(destDir).canonicalFilePath();
    if (canonicalRoot.isEmpty()) {
        qCCritical(lcHaldenUnzip).noquote() << "ZoZipHelper::upzip() - Fail to mkpath()" << destDir;
        return fail();
    }

    UnzArchive archive(zipPath);
    unzFile uf = archive.handle();
    if (!uf) {
        qCDebug(lcHaldenUnzip).noquote()
            << "ZoZipHelper::upzip() Fail to open unzip File" << zipPath;
        return fail();
    }
    unz_global_info64 globalInfo;
    int rc = unzGetGlobalInfo64(uf, &globalInfo);
    if (rc != UNZ_OK) {
        qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() Fail to get global info" << rc;
        return fail();
    }
    qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() Success to get global info:"
                           << quint64(globalInfo.number_entry) << quint64(globalInfo.size_comment);
    const tds8 total = tds8(globalInfo.number_entry);

    std::vector<char> copyBuffer(kCopyBufferSize);
    if (!archiveReadsWhole(uf, copyBuffer)) {
        qCWarning(lcHaldenUnzip).noquote()
            << "ZoZipHelper::upzip() - damaged archive, nothing written:" << zipPath;
        return fail();
    }
    rc = unzGoToFirstFile(uf);
    if (rc != UNZ_OK) {
        qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() Fail to unzGoToFirstFile" << rc;
        return fail();
    }

    // An entry that could not be written whole leaves the installation
    // damaged: the walk goes on for the rest, but the result is a failure so
    // the user is asked to retry instead of starting a broken program.
    bool entryDamaged = false;
    std::vector<char> longName;
    tds8 index = 0;
    do {
        qCDebug(lcHaldenUnzip).nospace() << "ZoZipHelper::upzip() - currentIndex " << index;
        if (!extractEntry(uf, destDir, canonicalRoot, copyBuffer, longName))
            entryDamaged = true;
        ++index;
        Q_EMIT sigUpZipProgress(index, total);
        rc = unzGoToNextFile(uf);
    } while (rc == UNZ_OK);
    // Anything but the list's end means the central directory broke off and
    // the entries after this point were never looked at.
    const bool walkedToEnd = rc == UNZ_END_OF_LIST_OF_FILE;
    if (!walkedToEnd)
        qCDebug(lcHaldenUnzip) << "ZoZipHelper::upzip() - Fail to unzGoToNextFile" << rc;

    if (archive.close() != UNZ_OK) {
        qCDebug(lcHaldenUnzip).noquote()
            << "ZoZipHelper::upzip() - Fail to close unzip file" << zipPath;
        return fail();
    }
    if (!walkedToEnd || entryDamaged)
        return fail();
    Q_EMIT sigUpZipFinished(true);
    return true;
}
