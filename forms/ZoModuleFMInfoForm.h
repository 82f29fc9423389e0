#pragma once

#include "ZoDevFMInfo.h"
#include "ZoTypes.h"

#include <QWidget>

namespace Ui {
class ZoModuleFMInfoForm;
}

// One device's row in the device list: icon, name, the version it runs, the
// version offered with its release note, and either the upgrade tip or the
// transfer's progress.
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

    const ZoDevFMInfo &info() const { return m_info; }

Q_SIGNALS:
    // The type byte of the offered version, whose release note to show.
    void sigTarModFmVerInfo(tdu4 devId);

private Q_SLOTS:
    void on_btnTarFMUpdateInfo_clicked();

private:
    Ui::ZoModuleFMInfoForm *ui;
    ZoDevFMInfo m_info;
};
