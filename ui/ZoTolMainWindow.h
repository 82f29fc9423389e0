#pragma once

#include "ZoTypes.h"
#include "ZoUpgradeWorkflow.h"
#include "ZoWindowControls.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

class QListWidgetItem;
class QMediaPlayer;
class ZoAddGNCForm;
class ZoCoreFMHeaderForm;
class ZoDataLinkSettingForm;
class ZoDeviceListView;
class ZoHistoryForm;
class ZoManualAddModuleForm;
class ZoModuleFMHeaderForm;
class ZoModuleFMInfoForm;
class ZoPlaneConfig;
class ZoRoundWaterProgressBar;
class ZoSearchPlaneDeviceForm;
class ZoSelectGNCForm;
class ZoSelectModuleForm;

namespace Ui {
class ZoTolMainWindow;
}

// The application's main window: the device list with its two section
// headers, the connection state, the firmware branch, the upgrade button and
// the forms around them. It owns the upgrade engine and only draws what the
// engine reports; what the user does goes back to the engine's slots.
class ZoTolMainWindow : public QWidget
{
    Q_OBJECT

public:
    // `config` is the link settings record the engine works with; null takes
    // the configuration singleton's. The search starts as soon as the event
    // loop runs, so whoever creates the window may still tune the engine.
    // The engine takes the program's configuration; `config`, when given,
    // stands in for its link settings record.
    explicit ZoTolMainWindow(ZoPlaneConfig *config = nullptr, QWidget *parent = nullptr);
    explicit ZoTolMainWindow(const ZoUpgradeEnvironment &env, QWidget *parent = nullptr);
    ~ZoTolMainWindow() override;

    static constexpr const char *ProgramVersion = "2.1.9.2";
    // How long "downloaded" or "failed" stays under the branch box.
    static constexpr int TipsHideMs = 1000;

    ZoUpgradeWorkflow *engine() const { return m_engine; }
    ZoSearchPlaneDeviceForm *searchForm() const { return m_searchForm; }
    ZoDataLinkSettingForm *linkSettingsForm() const { return m_linkSettings; }
    ZoRoundWaterProgressBar *waitPopup() const { return m_waitPopup; }
    QMediaPlayer *player() const { return m_player; }
    // The device list's rows (ZoDeviceListView).
    ZoModuleFMInfoForm *row(ZoDeviceKey key) const;
    int rowIndex(ZoDeviceKey key) const;
    QList<QWidget *> rowWidgets() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private Q_SLOTS:
    void on_btnCloseWnd_clicked();
    void on_btnMinWnd_clicked();
    void on_btnDLSetting_clicked();
    void on_btnHistory_clicked();
    void on_btnAllUpgrade_clicked();
    void on_cmbFMSvrBranchType_activated(int index);
    void on_btnGetCustomBranch_clicked();
    void onShowModuleTarFMReleaseNote(ZoDeviceKey key);
    void onShowSelectGNCDeviceForm();

    // What the engine reports.
    void onDevicePhase(const ZoDevicePhase &now);
    void onControlsChanged();
    void onCatalogueState(ZoTargetIntake::State state);
    void onRunEnded(ZoUpgradeWorkflow::RunOutcome outcome, ZoDeviceKey key);
    void onInformation(QString text);
    void onQuestion(int id, QString text, QList<int> buttons);
    void onSerialPortDenied(QString node);
    void onPlaySound(bool success);
    void onWaitPopup(bool visible, int value);
    void onConnectionChanged(bool connected);
    void onSelectModules(QList<ZoDeviceKey> missing);
    void onShowAddCore(bool instead);
    void onCloseAddCore();

private:
    void showTips(const QString &textKey);
    void retranslate();
    void showConnection(bool connected);
    void centre(QWidget *child) const;
    bool confirmClose();
    // The link form's buttons while a run flashes: `action` once the user
    // agreed to stop the run (and it was stopped), `refused` otherwise. With
    // no run flashing `action` happens at once, as it always did.
    void stopRunFirst(std::function<void()> action, std::function<void()> refused = {});
    bool confirmStopRun();
    // Reads the history into its form, open or about to be.
    void loadHistory();
    QString viewText(const QString &key) const;
    // How a question's button reads: the engine names only which it is.
    QString buttonCaption(int question, int button) const;

    Ui::ZoTolMainWindow *ui;
    ZoUpgradeWorkflow *m_engine = nullptr;
    ZoWindowControls *m_controls = nullptr;
    ZoDeviceListView *m_list = nullptr;
    ZoSearchPlaneDeviceForm *m_searchForm = nullptr;
    ZoDataLinkSettingForm *m_linkSettings = nullptr;
    ZoRoundWaterProgressBar *m_waitPopup = nullptr;
    QMediaPlayer *m_player = nullptr;
    QPointer<ZoSelectModuleForm> m_selectModule;
    QPointer<ZoAddGNCForm> m_addCore;
    QPointer<ZoSelectGNCForm> m_selectCore;
    QPointer<ZoHistoryForm> m_historyForm;

    QTimer m_tipsHide;

    bool m_connected = false;
    bool m_holdPower = false; // a device's flash must not be cut now
    // The kind of link the engine has open (ZoPlaneConfig::LinkUdp ...), -1
    // for none.
    int m_openLink = -1;
    QString m_tipsKey;
    // A serial port that refused the user, until a box has told it.
    QString m_deniedNode;
    bool m_closing = false;
    bool m_historyWarned = false; // the flash history's failure was told
    bool m_dragging = false;
    QPoint m_dragOffset;
};
