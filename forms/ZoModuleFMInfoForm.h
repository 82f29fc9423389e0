#pragma once

#include "ZoDevFMInfo.h"
#include "ZoDevicePhase.h"
#include "ZoTypes.h"

#include <QWidget>

namespace Ui {
class ZoModuleFMInfoForm;
}

// One device's row in the device list: icon, name, the version it runs, the
// version offered with its release note, and either the upgrade tip, the
// transfer's progress, or the device's state: what the last run did to it,
// or that it answers only from its bootloader, or not at all.
class ZoModuleFMInfoForm : public QWidget
{
    Q_OBJECT

public:
    explicit ZoModuleFMInfoForm(QWidget *parent = nullptr);
    ~ZoModuleFMInfoForm() override;

    void init(const ZoDevFMInfo &record);
    // Forgets the offered firmware, for instance when another family member's
    // catalogue is about to be fetched.
    void reset();
    void setCurVersion(const tVersion &version);
    void setTarget(const tVersion &tarVersion, const QString &releaseNote, bool canUpgrade);
    void setProgressRange(int min, int max);
    void setProgress(int value);
    void setResult(bool ok);
    // The transfer completed and the device is being read back.
    void setConfirming();
    // The step of its flash; the ring stands for the programming.
    void setPhase(ZoDevicePhase::Phase phase);
    // The engine's record of the device: what it runs, whether it answers,
    // what the last run did to it. `due`: a run would flash it now. A row
    // whose state did not change keeps its progress.
    void setRecord(const ZoDevFMInfo &record, bool due);
    // Silent although the bus configuration names it: a fault, not an option.
    void setMissing(bool missing);

    const ZoDevFMInfo &info() const { return m_info; }

Q_SIGNALS:
    // The type byte of the offered version, whose release note to show.
    void sigTarModFmVerInfo(tdu4 devId);

private Q_SLOTS:
    void on_btnTarFMUpdateInfo_clicked();

private:
    // A state other than the plain offer: a run's result, a bootloader, silence.
    bool hasState() const;
    void showState();
    void showTip(const QString &text, const QString &colour);

    Ui::ZoModuleFMInfoForm *ui;
    ZoDevFMInfo m_info;
    bool m_canUpgrade = false;
    bool m_missing = false;
};
