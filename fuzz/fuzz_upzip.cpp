// Malformed release archives, extracted into a scratch directory. Besides
// the sanitizers, every file operation that creates or changes something is
// watched while the extraction runs: anything aimed outside the scratch
// directory stops the run at once, whether or not it would have succeeded.

#include "ZoZipHelper.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string g_scratch; // canonical, no trailing slash
bool g_watching = false;

// Lexically normalised absolute form of path (the scratch tree holds no links).
std::string absoluteOf(int dirfd, const char *path)
{
    std::string p;
    if (path[0] == '/') {
        p = path;
    } else {
        char buf[4096];
        if (dirfd != AT_FDCWD) {
            const std::string link = "/proc/self/fd/" + std::to_string(dirfd);
            const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
            if (n <= 0)
                return std::string();
            buf[n] = 0;
        } else if (!getcwd(buf, sizeof buf)) {
            return std::string();
        }
        p = std::string(buf) + "/" + path;
    }
    std::string out;
    size_t i = 0;
    while (i < p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string::npos)
            j = p.size();
        const std::string part = p.substr(i, j - i);
        if (part == "..") {
            const size_t cut = out.rfind('/');
            out.erase(cut == std::string::npos ? 0 : cut);
        } else if (!part.empty() && part != ".") {
            out += "/" + part;
        }
        i = j + 1;
    }
    return out.empty() ? "/" : out;
}

void check(int dirfd, const char *path, const char *what)
{
    if (!g_watching || !path)
        return;
    const std::string abs = absoluteOf(dirfd, path);
    if (abs == g_scratch || abs.compare(0, g_scratch.size() + 1, g_scratch + "/") == 0)
        return;
    std::fprintf(stderr, "fuzz_upzip: %s outside the scratch directory: %s\n", what, path);
    std::abort();
}

bool writes(int flags)
{
    return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0;
}

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// open, open64 (at == false) and openat, openat64 (at == true).
int watchedOpen(const char *name, bool at, int dirfd, const char *path, int flags, mode_t mode)
{
    if (writes(flags))
        check(dirfd, path, name);
    if (at)
        return real<int (*)(int, const char *, int, ...)>(name)(dirfd, path, flags, mode);
    return real<int (*)(const char *, int, ...)>(name)(path, flags, mode);
}

} // namespace

// Only an open that may create a file passes a mode.
#define ZO_WATCHED_OPEN(name, at, dirfd)                                                           \
    mode_t mode = 0;                                                                               \
    if (flags & (O_CREAT | O_TMPFILE)) {                                                           \
        va_list ap;                                                                                \
        va_start(ap, flags);                                                                       \
        mode = mode_t(va_arg(ap, int));                                                            \
        va_end(ap);                                                                                \
    }                                                                                              \
    return watchedOpen(name, at, dirfd, path, flags, mode)

// The calls through which Qt creates and changes files and directories.
extern "C" {

int open(const char *path, int flags, ...)
{
    ZO_WATCHED_OPEN("open", false, AT_FDCWD);
}

int open64(const char *path, int flags, ...)
{
    ZO_WATCHED_OPEN("open64", false, AT_FDCWD);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    ZO_WATCHED_OPEN("openat", true, dirfd);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    ZO_WATCHED_OPEN("openat64", true, dirfd);
}

int creat(const char *path, mode_t mode)
{
    check(AT_FDCWD, path, "creat");
    static auto fn = real<int (*)(const char *, mode_t)>("creat");
    return fn(path, mode);
}

int mkdir(const char *path, mode_t mode)
{
    check(AT_FDCWD, path, "mkdir");
    static auto fn = real<int (*)(const char *, mode_t)>("mkdir");
    return fn(path, mode);
}

int rename(const char *from, const char *to)
{
    check(AT_FDCWD, from, "rename");
    check(AT_FDCWD, to, "rename");
    static auto fn = real<int (*)(const char *, const char *)>("rename");
    return fn(from, to);
}

int unlink(const char *path)
{
    check(AT_FDCWD, path, "unlink");
    static auto fn = real<int (*)(const char *)>("unlink");
    return fn(path);
}

int symlink(const char *target, const char *path)
{
    check(AT_FDCWD, path, "symlink");
    static auto fn = real<int (*)(const char *, const char *)>("symlink");
    return fn(target, path);
}

} // extern "C"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLoggingCategory::setFilterRules(QStringLiteral("haldenupdate.*=false"));
    // Memory-backed when there is such a place: the harness makes and removes
    // a small tree for every input.
    char shmPattern[] = "/dev/shm/fuzz_upzip-XXXXXX";
    char tmpPattern[] = "/tmp/fuzz_upzip-XXXXXX";
    const char *dir = mkdtemp(shmPattern);
    if (!dir)
        dir = mkdtemp(tmpPattern);
    char canonical[4096];
    if (!dir || !realpath(dir, canonical))
        std::abort();
    g_scratch = canonical;
    std::atexit([] { QDir(QString::fromStdString(g_scratch)).removeRecursively(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    const QString scratch = QString::fromStdString(g_scratch);
    const QString zipPath = scratch + QStringLiteral("/in.zip");
    const QString dest = scratch + QStringLiteral("/app/inner/");
    {
        QFile f(zipPath);
        if (!f.open(QIODevice::WriteOnly)
            || f.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
            std::abort();
    }

    // While the extraction runs only the destination may change; it sits two
    // levels below the scratch directory, so climbing out by a step or two
    // is caught as surely as an absolute name.
    if (!QDir().mkpath(dest))
        std::abort();
    const std::string allowed = g_scratch;
    g_scratch = (dest.chopped(1)).toStdString();
    g_watching = true;
    ZoZipHelper zip;
    int finished = 0;
    QObject::connect(&zip, &ZoZipHelper::sigUpZipFinished, [&finished](bool) { ++finished; });
    const bool ok = zip.upzip(zipPath, dest);
    g_watching = false;
    g_scratch = allowed;
    (void)ok;
    if (finished != 1) // the form waits for exactly one
        __builtin_trap();

    QDir(scratch + QStringLiteral("/app")).removeRecursively();
    return 0;
}
