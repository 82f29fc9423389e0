#include "ZoDeviceListView.h"

#include "ZoCoreFMHeaderForm.h"
#include "ZoManualAddModuleForm.h"
#include "ZoModuleFMHeaderForm.h"
#include "ZoModuleFMInfoForm.h"
#include "ZoUpgradeWorkflow.h"

#include <QLayout>
#include <QListWidget>

ZoDeviceListView::ZoDeviceListView(QListWidget *list, ZoUpgradeWorkflow *engine, QObject *parent)
    : QObject(parent)
    , m_list(list)
    , m_engine(engine)
{
    m_progressFlush.setSingleShot(true);
    m_progressFlush.setInterval(ProgressDrawMs);
    connect(&m_progressFlush, &QTimer::timeout, this, &ZoDeviceListView::flushProgress);
    insertHeaders();

    ZoUpgradeWorkflow *e = engine;
    const ZoDeviceRoster *rows = &e->roster();
    connect(rows, &ZoDeviceRoster::sigRowAdded, this, &ZoDeviceListView::onRowAdded);
    connect(rows, &ZoDeviceRoster::sigRowRemoved, this, &ZoDeviceListView::onRowRemoved);
    connect(rows, &ZoDeviceRoster::sigRowsCleared, this, &ZoDeviceListView::onRowsCleared);
    connect(rows, &ZoDeviceRoster::sigManualAddRow, this, &ZoDeviceListView::onManualAddRow);
    connect(e, &ZoUpgradeWorkflow::sigRecordChanged, this, &ZoDeviceListView::onRecordChanged);
    connect(e, &ZoUpgradeWorkflow::sigProgress, this, &ZoDeviceListView::onCurrentRow);
    connect(e, &ZoUpgradeWorkflow::sigProgressRange, this, &ZoDeviceListView::onProgressRange);
    connect(e, &ZoUpgradeWorkflow::sigProgress, this, &ZoDeviceListView::onProgress);
    connect(
        e, &ZoUpgradeWorkflow::sigDeviceConfirming, this, &ZoDeviceListView::onDeviceConfirming);
    connect(&e->run(), &ZoUpgradeRun::sigDevicePhase, this, [this](const ZoDevicePhase &now) {
        flushProgress();
        if (ZoModuleFMInfoForm *row = rowFor(now.key))
            row->setPhase(now.phase);
    });
    // The record says more than the outcome: why not, and what it runs now.
    connect(e, &ZoUpgradeWorkflow::sigDeviceOutcome, this,
        [this](const ZoDeviceOutcome &outcome) { onRecordChanged(outcome.key); });
    connect(e, &ZoUpgradeWorkflow::sigTargetChanged, this, &ZoDeviceListView::onTargetChanged);
    connect(e, &ZoUpgradeWorkflow::sigCoreHeader, this, &ZoDeviceListView::onCoreHeader);
    connect(
        e, &ZoUpgradeWorkflow::sigProtocolTypeReset, this, &ZoDeviceListView::onProtocolTypeReset);
    connect(e, &ZoUpgradeWorkflow::sigBrisk2Type, this, &ZoDeviceListView::onBrisk2Type);
}

void ZoDeviceListView::setEnabledParts(bool coreHeader, bool manualAdd)
{
    m_coreHeaderEnabled = coreHeader;
    m_manualAddEnabled = manualAdd;
    if (m_manualAdd)
        m_manualAdd->setEnabled(manualAdd);
    m_coreHeader->setEnabled(coreHeader);
}

QListWidgetItem *ZoDeviceListView::insertRow(QWidget *widget, int index)
{
    QListWidget *list = m_list;
    // A row runs the list's full width, as its selection does: the view
    // stretches it over the viewport (less the scroll bar while one shows).
    // Its columns keep their widths at the left and the line under them runs
    // on to the edge.
    widget->setMaximumWidth(QWIDGETSIZE_MAX);
    if (QLayout *rowLayout = widget->layout()) {
        for (int i = 0; i < rowLayout->count(); ++i) {
            if (QLayoutItem *part = rowLayout->itemAt(i); part->layout())
                part->setAlignment(Qt::AlignLeft);
        }
        rowLayout->invalidate();
    }
    auto *item = new QListWidgetItem;
    item->setSizeHint(widget->size());
    if (index < 0 || index > list->count())
        index = list->count();
    list->insertItem(index, item);
    list->setItemWidget(item, widget);
    return item;
}

void ZoDeviceListView::removeItem(QListWidgetItem *item)
{
    if (!item)
        return;
    if (item == m_currentItem)
        m_currentItem = nullptr;
    QListWidget *list = m_list;
    QWidget *widget = list->itemWidget(item);
    delete list->takeItem(list->row(item));
    if (widget)
        widget->deleteLater();
}

void ZoDeviceListView::insertHeaders()
{
    m_moduleHeader = new ZoModuleFMHeaderForm;
    m_moduleHeaderItem = insertRow(m_moduleHeader, 0);
    m_coreHeader = new ZoCoreFMHeaderForm;
    // Below the manual-add row when that is there.
    const int coreIndex = m_manualAddItem ? m_list->row(m_manualAddItem) + 1 : 1;
    m_coreHeaderItem = insertRow(m_coreHeader, coreIndex);
    connect(m_coreHeader, &ZoCoreFMHeaderForm::sigSelectGNCProtType, m_engine,
        &ZoUpgradeWorkflow::onUpdateGNCDevIDByProtType);
    connect(m_coreHeader, &ZoCoreFMHeaderForm::sigSelectBrisk2Type, m_engine,
        &ZoUpgradeWorkflow::onUpdateBrisk2Type);
    m_coreHeader->setEnabled(m_coreHeaderEnabled);
}

void ZoDeviceListView::onRowAdded(ZoDeviceKey key, bool coreRow, int index)
{
    Q_UNUSED(coreRow)
    // The engine announces a replaced row's removal first; a leftover would
    // otherwise stay in the list without a key.
    if (m_items.contains(key))
        onRowRemoved(key);
    auto *row = new ZoModuleFMInfoForm;
    ZoDevFMInfo record = m_engine->roster().records().value(key);
    record.name = m_engine->roster().shownName(key);
    row->init(record);
    // The row names only its type; the window knows which device it draws.
    connect(row, &ZoModuleFMInfoForm::sigTarModFmVerInfo, this,
        [this, key] { Q_EMIT sigDetails(key); });
    m_rows.insert(key, row);
    m_items.insert(key, insertRow(row, index));
    refreshFold();
}

void ZoDeviceListView::refreshFold()
{
    // The family's silent optional modules fold into the manual-add row's
    // one line; a silent module the configuration names stays a fault row.
    int folded = 0;
    for (auto it = m_items.cbegin(); it != m_items.cend(); ++it) {
        const bool optional = m_engine->roster().isOptionalSilent(it.key());
        folded += optional ? 1 : 0;
        it.value()->setHidden(optional && !m_foldOpen);
        if (ZoModuleFMInfoForm *row = m_rows.value(it.key()))
            row->setMissing(m_engine->roster().isMissing(it.key()));
    }
    if (m_manualAdd)
        m_manualAdd->setFolded(folded, m_foldOpen);
}

void ZoDeviceListView::onRowRemoved(ZoDeviceKey key)
{
    m_rows.remove(key);
    removeItem(m_items.take(key));
}

void ZoDeviceListView::onRowsCleared()
{
    m_rows.clear();
    m_items.clear();
    m_currentItem = nullptr;
    QListWidget *list = m_list;
    for (int i = list->count() - 1; i >= 0; --i) {
        QListWidgetItem *item = list->item(i);
        if (item != m_manualAddItem)
            removeItem(item);
    }
    insertHeaders();
}

void ZoDeviceListView::onManualAddRow(bool present, int index)
{
    if (!present) {
        removeItem(m_manualAddItem);
        m_manualAddItem = nullptr;
        m_manualAdd = nullptr;
        return;
    }
    if (m_manualAddItem)
        return;
    m_manualAdd = new ZoManualAddModuleForm;
    m_manualAdd->setEnabled(m_manualAddEnabled);
    connect(m_manualAdd, &ZoManualAddModuleForm::sigSelecteModule, m_engine,
        &ZoUpgradeWorkflow::onShowSelectModuleForm);
    connect(m_manualAdd, &ZoManualAddModuleForm::sigFoldToggled, this, [this] {
        m_foldOpen = !m_foldOpen;
        refreshFold();
    });
    m_manualAddItem = insertRow(m_manualAdd, index);
    refreshFold();
}

ZoModuleFMInfoForm *ZoDeviceListView::rowFor(ZoDeviceKey key) const
{
    return m_rows.value(m_engine->roster().rowOf(key));
}

int ZoDeviceListView::rowIndex(ZoDeviceKey key) const
{
    QListWidgetItem *item = m_items.value(key);
    return item ? m_list->row(item) : -1;
}

QList<QWidget *> ZoDeviceListView::rowWidgets() const
{
    QList<QWidget *> widgets;
    QListWidget *list = m_list;
    for (int i = 0; i < list->count(); ++i)
        widgets.append(list->itemWidget(list->item(i)));
    return widgets;
}

void ZoDeviceListView::onRecordChanged(ZoDeviceKey key)
{
    ZoModuleFMInfoForm *row = rowFor(key);
    if (!row)
        return;
    // Progress still waiting would be drawn over the state the record shows.
    if (m_pendingProgress.contains(key))
        flushProgress();
    row->setRecord(m_engine->roster().records().value(key), m_engine->isDue(key));
    refreshFold();
}

void ZoDeviceListView::onCurrentRow(ZoDeviceKey key)
{
    // Called with every block: a hash lookup and nothing that grows with
    // the list.
    // The list's own current item is no guide: with its selection mode it
    // may stay unset, and setting it again on every block costs more than
    // the block. Only a new row is made current and scrolled to.
    QListWidgetItem *item = m_items.value(key);
    if (!item || item == m_currentItem)
        return;
    m_currentItem = item;
    m_list->setCurrentItem(item);
    m_list->scrollToItem(item);
}

void ZoDeviceListView::onProgressRange(ZoDeviceKey key, int maximum)
{
    flushProgress();
    if (ZoModuleFMInfoForm *row = rowFor(key))
        row->setProgressRange(0, maximum);
}

void ZoDeviceListView::onProgress(ZoDeviceKey key, int value)
{
    // Drawing the ring costs more than a block takes on a fast link: keep
    // the newest value and draw it a few times a second, not once a block.
    m_pendingProgress.insert(key, value);
    if (!m_progressFlush.isActive())
        m_progressFlush.start();
}

void ZoDeviceListView::flushProgress()
{
    m_progressFlush.stop();
    for (auto it = m_pendingProgress.cbegin(); it != m_pendingProgress.cend(); ++it)
        if (ZoModuleFMInfoForm *row = rowFor(it.key()))
            row->setProgress(it.value());
    m_pendingProgress.clear();
}

void ZoDeviceListView::onDeviceConfirming(ZoDeviceKey key)
{
    flushProgress();
    if (ZoModuleFMInfoForm *row = rowFor(key))
        row->setConfirming();
}

void ZoDeviceListView::onTargetChanged(
    ZoDeviceKey key, tVersion tarVersion, QString releaseNote, bool canUpgrade)
{
    ZoModuleFMInfoForm *row = rowFor(key);
    if (!row)
        return;
    if (tarVersion.type == 0)
        row->reset();
    else
        row->setTarget(tarVersion, releaseNote, canUpgrade);
}

void ZoDeviceListView::onCoreHeader(QString name, tVersion version)
{
    m_coreHeader->setCore(name, version);
}

void ZoDeviceListView::onProtocolTypeReset(tdu1 coreType)
{
    m_coreHeader->resetProtType(coreType);
}

void ZoDeviceListView::onBrisk2Type(tdu1 type)
{
    m_coreHeader->setBrisk2Type(m_engine->roster().coreType(), type);
}
