// Processes for the platform tests.
//
//   platform_helper term <file> obey|ignore
//       Appends "TERM" to <file> on every SIGTERM; "obey" then exits 0,
//       "ignore" goes on until killed. Prints "ready" once the handler is in.
//   platform_helper cwd <file>
//       Writes its working directory to <file> and exits.
//   platform_helper
//       Without arguments, as an updater restarts an application: writes its
//       working directory to "<its own path>.started" and exits.

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int gMarkFd = -1;
bool gObey = false;

void onTerm(int)
{
    static const char mark[] = "TERM\n";
    if (gMarkFd >= 0 && write(gMarkFd, mark, sizeof mark - 1) < 0) { }
    if (gObey)
        _exit(0);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "term") == 0) {
        gMarkFd = open(argv[2], O_WRONLY | O_CREAT | O_APPEND, 0644);
        gObey = std::strcmp(argv[3], "obey") == 0;
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = onTerm;
        sigaction(SIGTERM, &sa, nullptr);
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;)
            pause();
    }
    const bool restarted = argc == 1;
    if (restarted || (argc == 3 && std::strcmp(argv[1], "cwd") == 0)) {
        char out[PATH_MAX + 16];
        if (restarted)
            std::snprintf(out, sizeof out, "%s.started", argv[0]);
        else
            std::snprintf(out, sizeof out, "%s", argv[2]);
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd))
            return 2;
        // Written under another name first so the reader never sees half.
        char part[PATH_MAX + 32];
        std::snprintf(part, sizeof part, "%s.part", out);
        FILE *f = std::fopen(part, "w");
        if (!f)
            return 3;
        std::fputs(cwd, f);
        std::fclose(f);
        return std::rename(part, out) == 0 ? 0 : 4;
    }
    std::fprintf(stderr, "usage: platform_helper [term <file> obey|ignore | cwd <file>]\n");
    return 1;
}
