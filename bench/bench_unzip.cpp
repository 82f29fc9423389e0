// How fast a release archive is extracted, next to Info-ZIP's unzip doing
// the same archive on the same disk in the same run.
//
//   BENCH unzip_mbps <v> MB/s            ZoZipHelper::upzip, archive MB per second
//   BENCH infozip_unzip_mbps <v> MB/s    unzip -q -o, the same archive
//   BENCH unzip_vs_infozip <v> ratio     the first over the second (goal >= 0.8)
//
// The archive (about 50 MB: deflated text, deflated and stored incompressible
// blobs, many small files in nested directories) is made in the run, in
// TOLVANE_BENCH_DIR or the system's temporary directory. Each tool runs three
// times, alternating; the best run of each counts.

#include "ZoZipHelper.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <zip.h>

#include <cstdio>

namespace {

struct Archive
{
    qint64 archiveBytes = 0;
    qint64 contentBytes = 0;
    int entries = 0;
};

bool addEntry(zipFile zf, const QByteArray &name, const QByteArray &data, bool deflate)
{
    zip_fileinfo zi {};
    zi.tmz_date.tm_year = 2026;
    zi.tmz_date.tm_mon = 10;
    zi.tmz_date.tm_mday = 20;
    zi.tmz_date.tm_hour = 10;
    if (zipOpenNewFileInZip64(zf, name.constData(), &zi, nullptr, 0, nullptr, 0, nullptr,
            deflate ? Z_DEFLATED : 0, deflate ? Z_DEFAULT_COMPRESSION : 0, 0)
        != ZIP_OK)
        return false;
    const bool ok = data.isEmpty()
        || zipWriteInFileInZip(zf, data.constData(), unsigned(data.size())) == ZIP_OK;
    return zipCloseFileInZip(zf) == ZIP_OK && ok;
}

QByteArray randomBytes(QRandomGenerator &rng, int size)
{
    QByteArray b(size, Qt::Uninitialized);
    rng.fillRange(reinterpret_cast<quint32 *>(b.data()), size / 4);
    return b;
}

// Looks like logs and sources: compresses about four to one.
QByteArray textBytes(QRandomGenerator &rng, int size)
{
    static const char *words[] = {"void", "return", "const", "QString", "firmware", "upgrade",
        "device", "frame", "status", "version", "module", "0x", "if", "else", "while", "link", "=",
        "{", "}", ";", "bytes", "timeout", "error", "ok"};
    QByteArray b;
    b.reserve(size + 64);
    while (b.size() < size) {
        b += words[rng.bounded(int(sizeof words / sizeof *words))];
        b += rng.bounded(8) == 0 ? QByteArray::number(rng.bounded(100000)) : QByteArray();
        b += rng.bounded(10) == 0 ? '\n' : ' ';
    }
    b.truncate(size);
    return b;
}

bool makeArchive(const QString &path, Archive &a)
{
    QRandomGenerator rng(20261206);
    zipFile zf = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zf)
        return false;
    bool ok = true;
    auto add = [&](const QByteArray &name, const QByteArray &data, bool deflate) {
        ok = ok && addEntry(zf, name, data, deflate);
        a.contentBytes += data.size();
        ++a.entries;
    };
    for (int i = 0; i < 20; ++i) // libraries: incompressible, deflated anyway
        add("lib/plugin" + QByteArray::number(i) + ".dll", randomBytes(rng, 1536 * 1024), true);
    for (int i = 0; i < 8; ++i) // media: stored as they come
        add("resources/media/clip" + QByteArray::number(i) + ".bin", randomBytes(rng, 1024 * 1024),
            false);
    for (int i = 0; i < 400; ++i) // scripts, translations, docs
        add("share/doc/" + QByteArray::number(i % 20) + "/page" + QByteArray::number(i) + ".txt",
            textBytes(rng, 40 * 1024 + int(rng.bounded(120 * 1024))), true);
    for (int i = 0; i < 600; ++i) // small configuration and icons
        add("share/icons/" + QByteArray::number(i % 30) + "/icon" + QByteArray::number(i) + ".cfg",
            textBytes(rng, 200 + int(rng.bounded(3000))), true);
    ok = zipClose(zf, nullptr) == ZIP_OK && ok;
    a.archiveBytes = QFileInfo(path).size();
    return ok;
}

qint64 treeBytes(const QString &root)
{
    qint64 n = 0;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        n += it.fileInfo().size();
    }
    return n;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("haldenupdate.*.debug=false"));

    const QString base = qEnvironmentVariable("TOLVANE_BENCH_DIR", QDir::tempPath());
    QTemporaryDir tmp(base + QStringLiteral("/bench_unzip-XXXXXX"));
    if (!tmp.isValid()) {
        std::fprintf(stderr, "bench_unzip: no temporary directory in %s\n", qPrintable(base));
        return 1;
    }
    const QString zipPath = tmp.filePath(QStringLiteral("release.zip"));
    Archive a;
    if (!makeArchive(zipPath, a)) {
        std::fprintf(stderr, "bench_unzip: could not write the archive\n");
        return 1;
    }
    std::printf("# archive %.1f MB, %d entries, %.1f MB extracted\n", a.archiveBytes / 1e6,
        a.entries, a.contentBytes / 1e6);

    double best = 1e9, bestInfozip = 1e9;
    for (int run = 0; run < 3; ++run) {
        const QString ours = tmp.filePath(QStringLiteral("ours%1/").arg(run));
        QElapsedTimer t;
        t.start();
        ZoZipHelper zip;
        const bool ok = zip.upzip(zipPath, ours);
        const double s = t.nsecsElapsed() / 1e9;
        if (!ok || treeBytes(ours) != a.contentBytes) {
            std::fprintf(stderr, "bench_unzip: upzip did not extract everything\n");
            return 1;
        }
        best = qMin(best, s);
        QDir(ours).removeRecursively();

        const QString theirs = tmp.filePath(QStringLiteral("infozip%1").arg(run));
        t.restart();
        const int rc = QProcess::execute(QStringLiteral("unzip"),
            {QStringLiteral("-q"), QStringLiteral("-o"), zipPath, QStringLiteral("-d"), theirs});
        const double si = t.nsecsElapsed() / 1e9;
        if (rc != 0 || treeBytes(theirs) != a.contentBytes) {
            std::fprintf(stderr, "bench_unzip: unzip failed (exit %d)\n", rc);
            return 1;
        }
        bestInfozip = qMin(bestInfozip, si);
        QDir(theirs).removeRecursively();
        std::printf("# run %d: upzip %.3f s, unzip %.3f s\n", run, s, si);
    }

    const double mbps = a.archiveBytes / 1e6 / best;
    const double infozipMbps = a.archiveBytes / 1e6 / bestInfozip;
    std::printf("BENCH unzip_mbps %.1f MB/s\n", mbps);
    std::printf("BENCH infozip_unzip_mbps %.1f MB/s\n", infozipMbps);
    std::printf("BENCH unzip_vs_infozip %.2f ratio\n", mbps / infozipMbps);
    return 0;
}
