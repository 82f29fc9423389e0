#pragma once

#include "ZoDeviceKey.h"
#include "ZoLogLabel.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class ZoDeviceRoster;
class ZoFirmwareSource;
class ZoUpgradePolicy;

// Whether the files a run is about to flash are the campaign's: the same
// bytes for every aircraft. Checked once the run knows every device it will
// flash (after the bootloader sweep) and before the first is entered.
//
// Two checks, each per device the run would flash:
// - a lock, when the engine was handed one, pins one file per firmware type.
//   A served file whose version, size or SHA-256 differs from its type's pin
//   is refused, and so is a type the lock does not name: a lock written from
//   a pilot aircraft says nothing of that type's bytes, and flashing them
//   would break "the same bytes for every aircraft" without anyone having
//   chosen them;
// - the flash history: bytes served under a version this station has already
//   flashed with other bytes (same device type and version) are a warning
//   (not on the custom branch, where one version is many builds).
//   Under a lock they are refused unless the lock pins exactly these bytes,
//   which then is the line's own word that they are the campaign's (and the
//   run that wrote that lock was warned).
// Any refusal refuses the whole run: nothing is flashed.
//
// Lives on the engine's thread, like the roster, policy and source it reads.
class ZoCampaignGuard : public QObject
{
    Q_OBJECT
public:
    // One firmware file as a lock pins it: its type (the firmware id the
    // store keeps it under), the version its header names ("1.2.3"), its
    // size and the SHA-256 of all its bytes (lowercase hex), as the flash
    // history and the run report give them.
    struct Pin
    {
        int type = 0;
        QString version;
        qint64 size = 0;
        QString sha256;

        bool operator==(const Pin &o) const
        {
            return type == o.type && version == o.version && size == o.size && sha256 == o.sha256;
        }
    };
    using Pins = QList<Pin>;
    struct Finding
    {
        enum class Kind : int {
            Unpinned, // the lock names no file of this type
            Differs, // the lock pins another file for this type
            ChangedBytes, // the history has flashed other bytes under this version
        };
        Kind kind = Kind::Differs;
        ZoDeviceKey key; // the device that would take the file
        Pin expected; // the lock's pin (type 0: none)
        Pin served; // the file the run would send
        QStringList seen; // ChangedBytes: the other SHA-256s the history holds
    };
    // The SHA-256s of the files flashed (upgraded or not confirmed) to
    // devices of `type` under `version`, as the history has them.
    using History = std::function<QStringList(int type, const QString &version)>;
    // Nothing is owned; all must outlive the guard.
    struct Parts
    {
        const ZoDeviceRoster *roster;
        const ZoUpgradePolicy *policy;
        const ZoFirmwareSource *source;
        ZoLogLabel label; // before its log lines
    };

    // `lock`: none, nothing is pinned; an empty list pins nothing, so
    // nothing may be flashed.
    ZoCampaignGuard(const std::optional<Pins> &lock, const Parts &parts, QObject *parent = nullptr);

    bool isPinned() const { return m_lock.has_value(); }
    void setHistory(History history) { m_history = std::move(history); }

    // One pin per firmware type a device on board has a target from, due or
    // not, ordered by type: what a lock written now holds. A module already
    // current on a pilot aircraft is still pinned for the campaign's others.
    Pins served() const;
    // Every finding over the devices a run would flash now, in flash order.
    QList<Finding> findings() const;
    // Before a run: tells every finding (sigFinding; sigWarning once per
    // file the history knows other bytes of) and answers whether the run
    // may go on. When it may not,
    // refused() names the first device concerned.
    bool admit();
    ZoDeviceKey refused() const { return m_refused; }

    // The decision itself: `due` are the devices a run would flash, each with
    // the file it would take; `history` may be empty (none kept).
    static QList<Finding> compare(const std::optional<Pins> &lock,
        const QList<QPair<ZoDeviceKey, Pin>> &due, const History &history);
    static bool refuses(const std::optional<Pins> &lock, const QList<Finding> &findings);

Q_SIGNALS:
    void sigFinding(ZoCampaignGuard::Finding finding);
    // A translated line for a window's information: other bytes under a
    // version the history has flashed.
    void sigWarning(QString text);

private:
    Pin pinOf(int type) const;

    std::optional<Pins> m_lock;
    Parts m_p;
    History m_history;
    ZoDeviceKey m_refused;
};

Q_DECLARE_METATYPE(ZoCampaignGuard::Finding)
