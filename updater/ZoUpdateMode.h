#pragma once

#include <QString>

// How an installation takes a newer release. The updater replaces only a
// copy that is its own to change; any other is told about the release and
// left as it is.
namespace ZoUpdateMode {

enum Mode {
    // A portable copy this user may write: download, extract over it, restart.
    SelfUpdate,
    // The system's package manager installed it and is the one to update it,
    // even where this user (root) could write there.
    OfferPackageManaged,
    // This user cannot write the installation's folder.
    OfferReadOnly,
};

// The mode for the installation in applicationDir.
Mode forInstallation(const QString &applicationDir);

inline bool isOfferOnly(Mode mode)
{
    return mode != SelfUpdate;
}

// True when a file can be made in dir; it is removed again at once. Asked of
// the folder itself rather than read from its permissions, which neither
// root's rights nor a read-only mount show.
bool canWriteFolder(const QString &dir);

} // namespace ZoUpdateMode
