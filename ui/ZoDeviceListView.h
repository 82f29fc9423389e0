#pragma once

#include "ZoDevicePhase.h"
#include "ZoTypes.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QTimer>

class QListWidget;
class QListWidgetItem;
class QWidget;
class ZoCoreFMHeaderForm;
class ZoManualAddModuleForm;
class ZoModuleFMHeaderForm;
class ZoModuleFMInfoForm;
class ZoUpgradeWorkflow;

// The main window's device list: a row for each record the roster announces,
// the module and core section headers, the manual-add row with the family's
// silent optional modules folded into it, and each row's target, progress and
// phase as the engine reports them. It draws into the window's list widget
// and computes nothing the engine knows. Lives on the window's thread.
class ZoDeviceListView : public QObject
{
    Q_OBJECT
public:
    // How often a running transfer's progress is drawn: as often as the ring
    // animates anyway.
    static constexpr int ProgressDrawMs = 100;

    ZoDeviceListView(QListWidget *list, ZoUpgradeWorkflow *engine, QObject *parent = nullptr);

    // The row drawn for a device key, null when there is none.
    ZoModuleFMInfoForm *row(ZoDeviceKey key) const { return m_rows.value(key); }
    // The list position of a device's row, -1 when there is none.
    int rowIndex(ZoDeviceKey key) const;
    // The list's row widgets, top to bottom (headers and the manual-add row
    // included).
    QList<QWidget *> rowWidgets() const;
    // What the window's controls allow of the core header and manual add.
    void setEnabledParts(bool coreHeader, bool manualAdd);
    void flushProgress();

Q_SIGNALS:
    // The user asked for the details of a row's target.
    void sigDetails(ZoDeviceKey key);

private:
    void onRowAdded(ZoDeviceKey key, bool coreRow, int index);
    void onRowRemoved(ZoDeviceKey key);
    void onRowsCleared();
    void onRecordChanged(ZoDeviceKey key);
    void onManualAddRow(bool present, int index);
    void onCurrentRow(ZoDeviceKey key);
    void onProgressRange(ZoDeviceKey key, int maximum);
    void onProgress(ZoDeviceKey key, int value);
    void onDeviceConfirming(ZoDeviceKey key);
    void onTargetChanged(
        ZoDeviceKey key, tVersion tarVersion, QString releaseNote, bool canUpgrade);
    void onCoreHeader(QString name, tVersion version);
    void onProtocolTypeReset(tdu1 coreType);
    void onBrisk2Type(tdu1 type);
    void refreshFold();
    void insertHeaders();
    QListWidgetItem *insertRow(QWidget *widget, int index);
    void removeItem(QListWidgetItem *item);
    // The row of `key`, or the core's row while a protocol change has
    // re-keyed the core's record.
    ZoModuleFMInfoForm *rowFor(ZoDeviceKey key) const;

    QListWidget *m_list;
    ZoUpgradeWorkflow *m_engine;
    QHash<ZoDeviceKey, ZoModuleFMInfoForm *> m_rows;
    QHash<ZoDeviceKey, QListWidgetItem *> m_items;
    // Progress waiting to be drawn, newest value per row.
    QHash<ZoDeviceKey, int> m_pendingProgress;
    // The row a transfer last made current.
    QListWidgetItem *m_currentItem = nullptr;
    QTimer m_progressFlush;
    ZoModuleFMHeaderForm *m_moduleHeader = nullptr;
    ZoCoreFMHeaderForm *m_coreHeader = nullptr;
    ZoManualAddModuleForm *m_manualAdd = nullptr;
    QListWidgetItem *m_moduleHeaderItem = nullptr;
    QListWidgetItem *m_coreHeaderItem = nullptr;
    QListWidgetItem *m_manualAddItem = nullptr;
    bool m_coreHeaderEnabled = true;
    bool m_manualAddEnabled = true;
    bool m_foldOpen = false; // the silent optional modules are shown
};
