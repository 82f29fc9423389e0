#include "ZoImageCache.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

Q_DECLARE_LOGGING_CATEGORY(lcUpgrade)

namespace {

QString shaOf(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

void setWhy(QString *why, const QString &text)
{
    if (why)
        *why = text;
}

// The order files go in: their modification time, set each time a file is
// kept or taken.
void markUsed(const QString &path)
{
    QFile f(path);
    if (f.open(QIODevice::ReadWrite))
        f.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
}

} // namespace

ZoImageCache::ZoImageCache(const QString &dir, qint64 limitBytes)
    : m_dir(dir)
    , m_limit(limitBytes)
{
}

bool ZoImageCache::keep(const QByteArray &bytes, QString *why)
{
    if (bytes.size() > m_limit) {
        setWhy(why, QStringLiteral("%1 bytes is more than the cache holds").arg(bytes.size()));
        return false;
    }
    if (!QDir().mkpath(m_dir)) {
        setWhy(why, QStringLiteral("cannot create %1").arg(m_dir));
        return false;
    }
    const QString name = shaOf(bytes);
    const QString path = QDir(m_dir).filePath(name);
    if (!QFileInfo::exists(path)) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()
            || !file.commit()) {
            setWhy(why, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
            return false;
        }
    }
    markUsed(path);
    makeRoom(name);
    return true;
}

bool ZoImageCache::take(const QString &sha256, tdu1 type, ZoFRMFileInfo &file, QString *why)
{
    const QString path = QDir(m_dir).filePath(sha256);
    QFile f(path);
    if (sha256.isEmpty() || !f.open(QIODevice::ReadOnly)) {
        setWhy(why, QStringLiteral("no image %1 in %2").arg(sha256, m_dir));
        return false;
    }
    const QByteArray bytes = f.size() <= m_limit ? f.readAll() : QByteArray();
    f.close();
    ZoFRMFileInfo candidate;
    candidate.setBytes(bytes);
    tVersion version;
    tdu4 length = 0;
    QString problem;
    if (shaOf(bytes) != sha256)
        problem = QStringLiteral("its bytes changed");
    else if (!candidate.headerVersion(version) || !candidate.headerImageLength(length)
        || version.type != type || length == 0 || candidate.availableImageSize() < length)
        problem = QStringLiteral("its header does not describe an image for type %1").arg(type);
    if (!problem.isEmpty()) {
        qCWarning(lcUpgrade).noquote() << "Cached image" << path << "removed:" << problem;
        QFile::remove(path);
        setWhy(why, QStringLiteral("image %1: %2").arg(sha256, problem));
        return false;
    }
    markUsed(path);
    candidate.fid = type;
    candidate.version = version;
    file = candidate;
    return true;
}

qint64 ZoImageCache::bytes() const
{
    qint64 total = 0;
    for (const QFileInfo &f : QDir(m_dir).entryInfoList(QDir::Files))
        total += f.size();
    return total;
}

void ZoImageCache::makeRoom(const QString &keepName)
{
    // Oldest first; the file just kept stays.
    QFileInfoList files = QDir(m_dir).entryInfoList(QDir::Files, QDir::Time | QDir::Reversed);
    qint64 total = 0;
    for (const QFileInfo &f : qAsConst(files))
        total += f.size();
    for (const QFileInfo &f : qAsConst(files)) {
        if (total <= m_limit)
            break;
        if (f.fileName() == keepName || !QFile::remove(f.filePath()))
            continue;
        total -= f.size();
    }
}
