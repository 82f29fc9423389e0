// Stands in for ZoHaldenUpdate in the start-up tests: writes its arguments,
// one a line, to $TOLVANE_FAKE_UPDATER_LOG and exits with the code in
// $TOLVANE_FAKE_UPDATER_EXIT ("crash" ends it by a signal).

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char *argv[])
{
    if (const char *log = std::getenv("TOLVANE_FAKE_UPDATER_LOG")) {
        if (FILE *f = std::fopen(log, "w")) {
            for (int i = 1; i < argc; ++i)
                std::fprintf(f, "%s\n", argv[i]);
            std::fclose(f);
        }
    }
    const char *exitText = std::getenv("TOLVANE_FAKE_UPDATER_EXIT");
    if (!exitText)
        return 0;
    if (std::strcmp(exitText, "crash") == 0)
        std::raise(SIGKILL);
    return std::atoi(exitText);
}
