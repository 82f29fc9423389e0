#include "ZoUpgradeWorkflow.h"

#include "ZoFcsProtocolBase.h"
#include "ZoFirmwareUpdateProtocol.h"
#include "ZoMsgLooper.h"
#include "ZoNimbraHttpHelper.h"
#include "ZoPlaneSearch.h"
#include "ZoFRMFileStore.h"
#include "ZoTvkInstance.h"
#include "ZoUtils.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcUpgrade, "tolvane.upgrade")

namespace {

// The module bootloader's key, after type and device number in the
// enter-bootloader command of the addressed bus kinds.
const tdu1 kModuleKey[6] = {0x6A, 0x0C, 0xE3, 0x51, 0x97, 0x4B};

enum ModuleOp { OpVersion, OpEnter, OpForceReport, OpLeave };

constexpr tdu2 CanVersion = 0x0F0;
constexpr tdu2 CanEnter = 0x6F0;
constexpr tdu2 CanEnterAddressed = 0x6F8;
constexpr tdu2 CanControl = 0x6F1;
constexpr tdu2 CanTransfer = 0x6F2;
constexpr tdu1 BusVersion = 0xFA;
constexpr tdu1 BusEnter = 0xFB;
constexpr tdu1 BusControl = 0xFC;

// The 2.20.0 line: a core below it cannot take a target at or above it
// through this program.
constexpr tdu4 kVersionLine = 0x021400;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString timeText(const tFcsDateTime &t)
{
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(t.year)
        .arg(t.month)
        .arg(t.day)
        .arg(t.hour)
        .arg(t.minute)
        .arg(t.second);
}

QString hexId(tdu1 id)
{
    return QString::number(id, 16).toUpper();
}

// A key the window translates in its own context (titles, buttons, tips);
// marked so that the dictionary tools list it there.
QString viewKey(const char *key)
{
    return QLatin1String(key);
}

bool isBoard(tdu1 type)
{
    return type == 44 || type == 45 || type == 83;
}

} // namespace

ZoUpgradeWorkflow::ZoUpgradeWorkflow(const ZoUpgradeEnvironment &env, QObject *parent)
    : QObject(parent)
    , m_env(env)
    , m_ownStore(env.store ? nullptr : std::make_unique<ZoFRMFileStore>())
    , m_store(env.store ? env.store : m_ownStore.get())
    , m_config(env.link ? env.link : &m_ownLink)
    , m_looper(std::make_unique<ZoMsgLooper>())
    , m_cloud(new ZoNimbraHttpHelper(this))
    , m_search(new ZoPlaneSearch(this))
    , m_stepTimer(new QTimer(this))
    , m_manDetectTimer(new QTimer(this))
{
    qRegisterMetaType<tVersion>("tVersion");
    qRegisterMetaType<tFcsDateTime>("tFcsDateTime");
    qRegisterMetaType<tdu1>("tdu1");
    qRegisterMetaType<tdu2>("tdu2");
    qRegisterMetaType<tdu4>("tdu4");
    qRegisterMetaType<tds4>("tds4");
    qRegisterMetaType<ZoFRMFileInfo>("ZoFRMFileInfo");
    qRegisterMetaType<ZoPlaneConfig>("ZoPlaneConfig");
    qRegisterMetaType<Buttons>("QList<QPair<int,QString>>");

    m_stepTimer->setSingleShot(true);
    m_stepTimer->setTimerType(Qt::PreciseTimer);
    connect(m_stepTimer, &QTimer::timeout, this, &ZoUpgradeWorkflow::onSingleFRMUpgradeTimeout);
    m_manDetectTimer->setSingleShot(true);
    connect(m_manDetectTimer, &QTimer::timeout, this, &ZoUpgradeWorkflow::onWaitManDetectTimeout);

    // The headers of the two sections are rows too: lookups by key 0 find them.
    m_moduleRows.insert(0);
    m_coreRows.insert(0);
    resetUpgradeState();
    m_windowMode = ModeNone;

    ZoMsgLooper *l = m_looper.get();
    connect(l, &ZoMsgLooper::sigPlaneConnectionChanged, this,
        &ZoUpgradeWorkflow::onPlaneConnectionChanged);
    connect(this, &ZoUpgradeWorkflow::sigCloseCom, l, &ZoMsgLooper::onClosePlaneComm);
    connect(l, &ZoMsgLooper::sigGNCEID, this, &ZoUpgradeWorkflow::onUpdateGNCEID);
    connect(l, &ZoMsgLooper::sigGNCFMVersion, this, &ZoUpgradeWorkflow::onUpdateGNCFMVersion);
    connect(l, &ZoMsgLooper::sigGNCCompileTime, this, &ZoUpgradeWorkflow::onUpdateGNCFMComplieTime);
    connect(l, &ZoMsgLooper::sigCANDevVersion, this, &ZoUpgradeWorkflow::onUpdateCANDevVersion);
    connect(l, &ZoMsgLooper::sigCANDevUpgEraseFlashAck, this,
        &ZoUpgradeWorkflow::onCANDevUpgEraseFlashAck);
    connect(
        l, &ZoMsgLooper::sigGNCUpgEraseFlashAck, this, &ZoUpgradeWorkflow::onGNCUpgEraseFlashAck);
    connect(l, &ZoMsgLooper::sigGNCUpgradeProgAck, this, &ZoUpgradeWorkflow::onGNCUpgradeProgAck);
    connect(
        l, &ZoMsgLooper::sigCANDevUpgradeProgAck, this, &ZoUpgradeWorkflow::onCANDevUpgradeProgAck);

    connect(m_cloud, &ZoNimbraHttpHelper::sigDownloadResult, this,
        &ZoUpgradeWorkflow::onUpdateDownloadTips);
    connect(m_cloud, &ZoNimbraHttpHelper::sigFRMFileDownloaded, this,
        &ZoUpgradeWorkflow::onUpdateDevFRMTarInfo);
    if (!m_env.cloudBaseUrl.isEmpty())
        m_cloud->setBaseUrl(m_env.cloudBaseUrl.toString());
    connect(l, &ZoMsgLooper::openPlaneComm, this, &ZoUpgradeWorkflow::sigLinkOpened);
    connect(l, &ZoMsgLooper::sigCloseComState, this, &ZoUpgradeWorkflow::sigLinkClosed);

    connect(m_search, &ZoPlaneSearch::sigOpenComUdp, l, &ZoMsgLooper::onOpenPlaneUdp);
    connect(m_search, &ZoPlaneSearch::sigOpenComTCPClient, l, &ZoMsgLooper::onOpenPlaneTCPClient);
    connect(m_search, &ZoPlaneSearch::sigOpenComSerial, l, &ZoMsgLooper::onOpenPlaneSerial);
    connect(m_search, &ZoPlaneSearch::sigCloseCom, l, &ZoMsgLooper::onClosePlaneComm);
    connect(l, &ZoMsgLooper::openPlaneComm, m_search, &ZoPlaneSearch::onOpenCommState);
    connect(l, &ZoMsgLooper::sigPlaneConnectionChanged, m_search, &ZoPlaneSearch::onPlaneDeteced);
    connect(m_search, &ZoPlaneSearch::sigFinishSearch, this,
        &ZoUpgradeWorkflow::onAutoSearchPlaneFinished);
    connect(
        m_search, &ZoPlaneSearch::sigGetFirmwareInfo, this, &ZoUpgradeWorkflow::onGetFirmwareInfo);

    l->setPlaneConfig(env.link);
    l->startLooper();
}

static ZoUpgradeEnvironment programEnvironment(ZoPlaneConfig *config)
{
    ZoUpgradeEnvironment env = ZoUpgradeEnvironment::from(*ZoTvkInstance::instance());
    env.link = config;
    return env;
}

ZoUpgradeWorkflow::ZoUpgradeWorkflow(ZoPlaneConfig *config, QObject *parent)
    : ZoUpgradeWorkflow(programEnvironment(config), parent)
{
}

void ZoUpgradeWorkflow::shutdown()
{
    m_stepTimer->stop();
    if (m_looper && m_looper->isRunning())
        m_looper->exit(0);
}

bool ZoUpgradeWorkflow::isLooperReady() const
{
    return looperReady(true);
}

bool ZoUpgradeWorkflow::hasRequestInFlight() const
{
    return m_cloud->isRequestPending();
}

void ZoUpgradeWorkflow::setCatalogueState(CatalogueState state)
{
    if (m_catalogueState == state)
        return;
    m_catalogueState = state;
    Q_EMIT sigCatalogueStateChanged(state);
    // Until tolvane-cli reads the state itself.
    if (state == CatalogueState::Fetching)
        Q_EMIT sigDownloadTips(QStringLiteral("MsgFirmDownloading"));
    else if (state != CatalogueState::None)
        Q_EMIT sigCatalogueResult(state == CatalogueState::Ready);
}

void ZoUpgradeWorkflow::endRun(RunOutcome outcome, tds4 key)
{
    Q_EMIT sigRunEnded(outcome, key);
    // Until tolvane-cli reads the outcome itself.
    int airframe = 0;
    const QString name = m_records.contains(key) ? m_records[key].name
                                                 : ZoUtils::deviceName(tdu1(key >> 16), airframe);
    if (outcome == RunOutcome::Completed)
        Q_EMIT sigRunFinished(true, QStringLiteral("MsgAllDevUpgraded"), QString());
    else if (outcome == RunOutcome::DeviceFailed)
        Q_EMIT sigRunFinished(false, QStringLiteral("MsgUpgradeFailed"), QString());
    else
        Q_EMIT sigRunFinished(false, QStringLiteral("MsgPrepareUpgradeFailed:") + name, QString());
}

bool ZoUpgradeWorkflow::isDue(tds4 key) const
{
    auto it = m_records.constFind(key);
    return key != 0 && it != m_records.constEnd()
        && (m_moduleRows.contains(key) || m_coreRows.contains(key) || m_altCoreRows.contains(key))
        && needsUpgrade(*it);
}

QList<tds4> ZoUpgradeWorkflow::flashOrder() const
{
    QList<tds4> modules;
    QList<tds4> boards;
    QList<tds4> cores;
    for (auto it = m_records.cbegin(); it != m_records.cend(); ++it) {
        if (!isDue(it.key()))
            continue;
        if (m_moduleRows.contains(it.key()))
            modules.append(it.key());
        else if (isBoard(it->tarVersion.type))
            boards.append(it.key());
        else
            cores.append(it.key());
    }
    // A run flashes one core: the last one its records name.
    if (cores.size() > 1)
        cores = {cores.last()};
    return modules + boards + cores;
}

ZoUpgradeWorkflow::~ZoUpgradeWorkflow()
{
    m_stepTimer->stop();
    if (m_looper && m_looper->isRunning()) {
        ZoMsgLooper *l = m_looper.get();
        QMetaObject::invokeMethod(l, [l] { l->onTerminateLooper(); });
        if (!l->wait(3000))
            qCWarning(lcUpgrade) << "ZoUpgradeWorkflow::~ZoUpgradeWorkflow - looper did not stop";
    }
}

void ZoUpgradeWorkflow::setTimings(const Timings &timings)
{
    m_timings = timings;
}

// ---- state ------------------------------------------------------------------

void ZoUpgradeWorkflow::setWindowMode(tds4 mode)
{
    if (m_windowMode == mode)
        return;
    m_windowMode = mode;
    Q_EMIT sigWindowModeChanged(mode);
}

void ZoUpgradeWorkflow::setControls(const std::function<void(Controls &)> &change)
{
    change(m_controls);
    Q_EMIT sigControlsChanged();
}

void ZoUpgradeWorkflow::enableControls()
{
    setControls([](Controls &c) {
        c.upgradeEnabled = true;
        c.branchEnabled = true;
        c.manualAddEnabled = true;
        c.coreHeaderEnabled = true;
    });
}

void ZoUpgradeWorkflow::resetUpgradeState()
{
    m_ctx = Context();
    m_pendingSelection = 0;
    m_manualCore = false;
    setWindowMode(ModeReady);
    if (m_looper) {
        m_looper->protocolMode = ZoMsgLooper::ModeApplication;
        m_looper->sendQueue.clear();
        m_looper->moduleVariant = 0;
    }
    m_stepTimer->stop();
}

void ZoUpgradeWorkflow::ask(Question id, const QString &titleKey, const QString &text,
    const Buttons &buttons, std::function<void(int)> onAnswer)
{
    m_question = id;
    m_onAnswer = std::move(onAnswer);
    Q_EMIT sigQuestion(id, titleKey, text, buttons);
}

void ZoUpgradeWorkflow::answer(int question, int button)
{
    if (question == QuestionNone || question != m_question)
        return;
    m_question = QuestionNone;
    auto onAnswer = std::move(m_onAnswer);
    m_onAnswer = nullptr;
    if (onAnswer)
        onAnswer(button);
}

void ZoUpgradeWorkflow::inform(const QString &titleKey, const QString &text)
{
    Q_EMIT sigInformation(titleKey, text);
}

// ---- search and link --------------------------------------------------------

void ZoUpgradeWorkflow::startSearch()
{
    if (m_pinnedLink) {
        searchLink(*m_pinnedLink);
        return;
    }
    setWindowMode(ModeSearching);
    m_search->onUpdateSearchRange(QStringList(), m_config->host, tds4(m_config->hostport),
        tds4(m_config->localPort), m_config->TcpServerHost, tds4(m_config->TcpServerHostPort),
        tds4(m_config->TcpClientLocalPort));
}

void ZoUpgradeWorkflow::searchLink(const ZoPlaneConfig &requested)
{
    // A copy first: `requested` may be the pinned record this replaces.
    const ZoPlaneConfig link = requested;
    m_pinnedLink = std::make_unique<ZoPlaneConfig>(link);
    setWindowMode(ModeSearching);
    switch (link.type) {
    case ZoPlaneConfig::LinkSerialPort:
        m_search->onSearchOnSpecSPCom(
            link.com, tds4(link.baud), tds4(link.databits), tds4(link.parity), tds4(link.stopbits));
        break;
    case ZoPlaneConfig::LinkTcpClient:
        m_search->onSearchOnspecTcpClientCom(
            link.TcpServerHost, tds4(link.TcpServerHostPort), tds4(link.TcpClientLocalPort));
        break;
    default:
        m_search->onSearchOnspecUdpCom(link.host, tds4(link.hostport), tds4(link.localPort));
        break;
    }
}

void ZoUpgradeWorkflow::research()
{
    onClosePlaneComm();
    QTimer::singleShot(m_timings.researchDelayMs, this, [this] { startSearch(); });
}

void ZoUpgradeWorkflow::onSearchOnSpecSPCom(
    QString com, tds4 baud, tds4 dataBits, tds4 parity, tds4 stopBits)
{
    setWindowMode(ModeSearching);
    m_search->onSearchOnSpecSPCom(com, baud, dataBits, parity, stopBits);
}

void ZoUpgradeWorkflow::onSearchOnspecUdpCom(QString host, tds4 hostPort, tds4 localPort)
{
    setWindowMode(ModeSearching);
    m_search->onSearchOnspecUdpCom(host, hostPort, localPort);
}

void ZoUpgradeWorkflow::onSearchOnspecTcpClientCom(QString host, tds4 hostPort, tds4 localPort)
{
    setWindowMode(ModeSearching);
    m_search->onSearchOnspecTcpClientCom(host, hostPort, localPort);
}

void ZoUpgradeWorkflow::onPlaneConnectionChanged(bool connected)
{
    m_linkUp = connected;
    m_reconnectCheck = false;
    Q_EMIT sigConnectionChanged(connected);
    if (!connected) {
        removeModuleRows();
        // A core restarts after a completed run: the next run first asks
        // whether this is still the same aircraft.
        if (m_windowMode == ModeReady && m_allUpgraded) {
            m_pendingSelection = coreType();
            m_reconnectCheck = true;
            auto it = m_records.find(m_core.key);
            if (it != m_records.end()) {
                it->needUpgrade = true;
                Q_EMIT sigTargetChanged(it->key, it->tarVersion, it->releaseNote, true);
            }
        }
        return;
    }
    if (m_windowMode >= ModeFound && m_windowMode <= ModeReady) {
        onClosePlaneComm();
        QTimer::singleShot(m_timings.researchDelayMs, this, [this] { startSearch(); });
    }
}

void ZoUpgradeWorkflow::onAutoSearchPlaneFinished(bool bFound, tds4 planeNum)
{
    Q_UNUSED(planeNum)
    setControls([bFound](Controls &c) {
        c.branchVisible = bFound;
        c.branchEnabled = bFound;
    });
    setWindowMode(bFound ? ModeFound : ModeNone);
    Q_EMIT sigSearchFinished(bFound);

    if (m_modules.size() >= 2) {
        if (!m_manualAddRow) {
            m_manualAddRow = true;
            Q_EMIT sigManualAddRow(true, m_moduleRows.size());
        }
        if (bFound && ZoUtils::isArno2(coreType()) && missingModules().contains(tds4(44))) {
            onManSelectModule(44);
            setControls([](Controls &c) { c.manualAddEnabled = false; });
        }
    }

    if (!bFound) {
        const bool offerAdd = m_notFoundBefore;
        m_notFoundBefore = true;
        Buttons buttons {{ButtonYes, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "BtnRetry"))}};
        if (offerAdd)
            buttons.append({ButtonNo, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "BtnAdd"))});
        buttons.append({ButtonCancel, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "BtnCancel"))});
        ask(QuestionNotFound, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "MsgInfo")),
            offerAdd ? tr("MsgFCSNotFoundRetryAddCancel") : tr("MsgFCSNotFoundRetryCancel"),
            buttons, [this](int button) {
                if (button == ButtonYes) {
                    qCDebug(lcUpgrade) << "click the retry button";
                    Q_EMIT sigHideLinkSettings();
                    research();
                } else if (button == ButtonNo) {
                    qCDebug(lcUpgrade) << "click the add button";
                    Q_EMIT sigShowAddCore();
                } else {
                    qCDebug(lcUpgrade) << "click the cancel button";
                }
            });
        return;
    }

    bool due = false;
    for (const ZoDevFMInfo &r : qAsConst(m_records))
        due = due
            || ((m_moduleRows.contains(r.key) || m_coreRows.contains(r.key)) && needsUpgrade(r));
    m_allUpgraded = !due;
    if (!m_identityHandled) {
        sendGetEid();
    } else {
        QTimer::singleShot(
            m_timings.identityToCatalogueMs, this, [this] { selectBranch(m_branchIndex); });
    }
}

void ZoUpgradeWorkflow::onClosePlaneComm()
{
    clearRows();
    if (m_manualAddRow) {
        m_manualAddRow = false;
        Q_EMIT sigManualAddRow(false, -1);
    }
    Q_EMIT sigSelectModules(QList<tds4>());
    Q_EMIT sigCloseCom();
    m_allUpgraded = false;
    m_pendingSelection = 0;
    m_core = ZoDevFMInfo();
    m_compileTimeKnown = false;
    m_identityHandled = false;
    m_heldBack.clear();
    setControls([](Controls &c) {
        c.upgradeEnabled = false;
        c.branchEnabled = false;
        c.coreHeaderEnabled = true;
    });
    resetUpgradeState();
}

// ---- rows -------------------------------------------------------------------

void ZoUpgradeWorkflow::insertModuleRow(const ZoDevFMInfo &record)
{
    if (m_moduleRows.contains(record.key) || m_coreRows.contains(record.key)) {
        m_moduleRows.remove(record.key);
        m_coreRows.remove(record.key);
        Q_EMIT sigRowRemoved(record.key);
    }
    const int index = m_moduleRows.size();
    m_moduleRows.insert(record.key);
    m_records.insert(record.key, record);
    Q_EMIT sigRowAdded(record.key, false, index);
}

void ZoUpgradeWorkflow::insertCoreRow(const ZoDevFMInfo &record)
{
    if (m_moduleRows.contains(record.key) || m_coreRows.contains(record.key)) {
        m_moduleRows.remove(record.key);
        m_coreRows.remove(record.key);
        Q_EMIT sigRowRemoved(record.key);
    }
    // Boards sit right under the core header, the core itself at the end.
    int index = -1;
    if (isBoard(tdu1(record.key >> 16)))
        index = m_moduleRows.size() + (m_manualAddRow ? 2 : 1);
    m_coreRows.insert(record.key);
    m_records.insert(record.key, record);
    Q_EMIT sigRowAdded(record.key, true, index);
}

void ZoUpgradeWorkflow::removeModuleRows()
{
    const QList<tds4> keys = m_moduleRows.values();
    for (tds4 key : keys) {
        if (key == 0)
            continue;
        m_moduleRows.remove(key);
        m_records.remove(key);
        Q_EMIT sigRowRemoved(key);
    }
}

void ZoUpgradeWorkflow::clearRows()
{
    m_records.clear();
    m_moduleRows = {0};
    m_coreRows = {0};
    m_altCoreRows.clear();
    m_stats.clear();
    Q_EMIT sigRowsCleared();
}

QList<tds4> ZoUpgradeWorkflow::missingModules() const
{
    QList<tds4> missing;
    for (const ZoDevFMInfo &r : m_records)
        if (r.needUpgrade)
            return missing;
    for (tds4 entry : m_modules) {
        const tds4 key = ((entry & 0xFF) << 16) | ((entry >> 16) & 0xFF);
        if (!m_records.contains(key))
            missing.append(entry);
    }
    return missing;
}

// ---- identity and versions ----------------------------------------------------

void ZoUpgradeWorkflow::onGetFirmwareInfo(tdu1 devType, tdu4 devId, tdu4 devNumIdx)
{
    if (devType == 0) {
        if (!looperReady(false))
            return;
        tdu1 n = 0;
        ZoFcsProtocolBase *fcs = m_looper->fcsProtocol.load();
        const tdu1 *version = fcs->makeVersionRequest(n);
        sendCommand(version, n);
        qCDebug(lcUpgrade) << "Send to Firmware Version Info";
        const tdu1 *compileTime = fcs->makeCompileTimeRequest(n);
        sendCommand(compileTime, n);
        qCDebug(lcUpgrade) << "Send to Firmware Complie Time";
    } else if (devType == 1) {
        m_ctx.devNum = tdu1(devNumIdx);
        sendGetModuleVersion(tdu1(devId & 0xFF), tdu1(devNumIdx));
    }
}

void ZoUpgradeWorkflow::onUpdateGNCFMVersion(tVersion version)
{
    Q_EMIT sigCloseAddCore();
    if (m_manualCore) {
        if (m_manDetectTimer->isActive()) {
            Q_EMIT sigWaitPopup(false, 100);
            m_manDetectTimer->stop();
        }
        const tdu1 selected = m_pendingSelection;
        QString difference;
        int selectedFrame = ZoUtils::AirframeNone;
        int realFrame = ZoUtils::AirframeNone;
        const QString selectedName = ZoUtils::deviceName(selected, selectedFrame);
        const QString realName = ZoUtils::deviceName(version.type, realFrame);
        const QString format = QStringLiteral("%1\uFF0C%2\uFF1A[%3]\uFF0C%4\uFF1A[%5]");
        if (!ZoUtils::sameCoreFamily(selected, version.type)) {
            difference = format.arg(tr("MsgHWDevNotSame"), tr("MsgAddDevice"), selectedName,
                tr("MsgRealDevice"), realName);
        } else if (selectedFrame != realFrame) {
            difference = format.arg(tr("MsgDeviceProtNotSame"), tr("MsgAddDevice"),
                ZoUtils::airframeName(selectedFrame), tr("MsgRealDevice"),
                ZoUtils::airframeName(realFrame));
        }
        auto accept = [this, version, selected]() mutable {
            setControls([](Controls &c) {
                c.branchVisible = true;
                c.branchEnabled = true;
            });
            setWindowMode(ModeFound);
            version.type = selected;
            m_manualCore = false; // the check ran; the rest of the report follows
            m_pendingSelection = selected;
            onUpdateGNCFMVersionChecked(version, true);
        };
        if (difference.isEmpty()) {
            accept();
            return;
        }
        ask(QuestionCoreMismatch, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "MsgConfirm")),
            difference,
            {{ButtonYes, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "BtnYes"))},
                {ButtonNo, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "BtnMessageBoxNo"))}},
            [this, accept](int button) mutable {
                if (button == ButtonYes) {
                    accept();
                } else {
                    Q_EMIT sigShowAddCore();
                    resetUpgradeState();
                }
            });
        return;
    }
    onUpdateGNCFMVersionChecked(version, false);
}

void ZoUpgradeWorkflow::onUpdateGNCFMVersionChecked(tVersion version, bool manual)
{
    const tdu1 t = version.type;
    const bool hasModules = ZoUtils::isSecondGenerationCore(t);
    m_modules.clear();
    if (hasModules)
        m_modules = ZoUtils::moduleListFor(
            t, m_env.tunexNodes, m_env.servoNodes, m_env.ignoredDevices);
    const QList<tds4> modules = m_modules;
    Q_EMIT sigModuleListChanged(modules);
    m_search->coreIdentified(true, hasModules, modules);

    ZoDevFMInfo record;
    record.key = tds4(t) << 16;
    record.icon = ZoUtils::iconPath(t);
    int airframe = ZoUtils::AirframeNone;
    record.name = ZoUtils::isEmba2(t) ? tr("MsgCoreApp") : ZoUtils::deviceName(t, airframe);
    record.curVersion = version;
    if (m_compileTimeKnown)
        record.curCompileTime = m_core.curCompileTime;
    record.serial = m_core.serial;
    record.needUpgrade
        = manual || (m_pendingSelection != 0 && ZoUtils::sameCoreFamily(t, m_pendingSelection));
    const tFcsDateTime compileTime = m_core.curCompileTime;
    m_core = record;
    m_core.curCompileTime = compileTime;
    insertCoreRow(record);
    const int index = ZoUtils::coreProtocolIndex(t);
    m_protType = ZoUtils::protocolTypeOfIndex(index);
    Q_EMIT sigCoreHeader(record.name, version);

    if (manual) {
        selectBranch(m_branchIndex);
    } else {
        sendGetEid();
    }
}

void ZoUpgradeWorkflow::onUpdateGNCFMComplieTime(tFcsDateTime compileTime)
{
    m_core.curCompileTime = compileTime;
    auto it = m_records.find(m_core.key);
    if (m_core.key != 0 && it != m_records.end()) {
        it->curCompileTime = compileTime;
        Q_EMIT sigRecordChanged(it->key);
    }
    m_compileTimeKnown = true;
    qCDebug(lcUpgrade).noquote() << "get GNC FRM compile Time:" << timeText(compileTime);
}

void ZoUpgradeWorkflow::onUpdateGNCEID(QString eid)
{
    m_core.serial = eid;
    auto it = m_records.find(m_core.key);
    if (m_core.key != 0 && it != m_records.end()) {
        it->serial = eid;
        Q_EMIT sigRecordChanged(it->key);
    }
    qCDebug(lcUpgrade).noquote() << "Get GNC EID" << eid << m_core.name;
    m_identityHandled = true;
    QTimer::singleShot(m_timings.identityToCatalogueMs, this, [this] {
        if (m_windowMode >= ModeFound)
            selectBranch(m_branchIndex);
    });
}

void ZoUpgradeWorkflow::onUpdateCANDevVersion(tVersion verInfo, tdu1 devIdx, QString sn)
{
    if (m_manDetectTimer->isActive()) {
        Q_EMIT sigWaitPopup(false, 100);
        m_manDetectTimer->stop();
    }
    const tdu1 t = verInfo.type;
    ZoDevFMInfo record;
    record.key = (tds4(t) << 16) | (ZoUtils::protocolClass(t) == ZoUtils::ClassBus ? devIdx : 0);
    record.icon = ZoUtils::iconPath(t);
    int airframe = ZoUtils::AirframeNone;
    record.name = ZoUtils::deviceName(t, airframe);
    record.curVersion = verInfo;
    record.serial = sn;
    record.needUpgrade = t == m_pendingSelection;
    record.devIdx = devIdx;

    const tdu1 core = coreType();
    if (((t == 44 || t == 45) && ZoUtils::isArno2(core)) || (t == 83 && ZoUtils::isEmba2(core))) {
        insertCoreRow(record);
        if (t == 45) {
            m_brisk2Type = 1;
            Q_EMIT sigBrisk2Type(1);
        }
    } else {
        insertModuleRow(record);
    }

    if (t == m_pendingSelection && t != 0) {
        bool found = false;
        const ZoFRMFileInfo file = m_store->getFRMFileInfo(t, found);
        auto it = m_records.find(record.key);
        if (found && it != m_records.end()) {
            it->tarVersion = file.version;
            it->releaseNote = m_env.language == QLatin1String("zh_CN")
                ? file.upgradeDescription
                : file.upgradeDescriptionEn;
            Q_EMIT sigTargetChanged(it->key, it->tarVersion, it->releaseNote, true);
        }
    }
    m_pendingSelection = 0;
}

// ---- catalogue and the upgrade decision ----------------------------------------

void ZoUpgradeWorkflow::selectBranch(int index)
{
    if (m_windowMode < ModeFound || m_windowMode > ModeReady)
        return;
    m_branchIndex = index;
    m_customBranch = false;
    if (index == BranchStable || index == BranchDevelopment) {
        setControls([](Controls &c) { c.customKeyVisible = false; });
        requestFirmware(index + 1, QString());
    } else {
        setControls([](Controls &c) { c.customKeyVisible = true; });
        setCatalogueState(CatalogueState::None);
        m_customBranch = true;
    }
}

void ZoUpgradeWorkflow::fetchCustomBranch(const QString &key)
{
    if (m_windowMode < ModeFound || m_windowMode > ModeReady || m_protType == 0)
        return;
    m_branchIndex = BranchCustom;
    m_customKey = key;
    requestFirmware(3, key);
    m_customBranch = true;
}

void ZoUpgradeWorkflow::requestFirmware(int branch, const QString &key)
{
    requestFirmwareFor(ZoUtils::firmwareIdFor(coreType(), m_protType), branch, key);
}

void ZoUpgradeWorkflow::requestFirmwareFor(tdu1 fid, int branch, const QString &key)
{
    setWindowMode(ModeReady);
    m_catalogueInFlight = true;
    setCatalogueState(CatalogueState::Fetching);
    if (m_offline) {
        // Queued, as the cloud's answers would be.
        QTimer::singleShot(0, this, [this] { offerLocalFirmware(); });
        return;
    }
    m_cloud->requestFirmware(fid, branch, key);
}

void ZoUpgradeWorkflow::setLocalFirmware(const QList<ZoFRMFileInfo> &files)
{
    m_offline = true;
    m_localFirmware.clear();
    for (const ZoFRMFileInfo &file : files) {
        // The store owns the buffers from here on.
        m_store->setFRMFileInfo(file);
        m_localFirmware.append(file);
    }
}

void ZoUpgradeWorkflow::offerLocalFirmware()
{
    for (const ZoFRMFileInfo &file : qAsConst(m_localFirmware)) {
        bool found = false;
        const ZoFRMFileInfo stored = m_store->getFRMFileInfo(file.fid, found);
        if (found)
            onUpdateDevFRMTarInfo(stored);
    }
    onUpdateDownloadTips(true, ZoNimbraHttpHelper::ResultAllFetched);
}

void ZoUpgradeWorkflow::onUpdateDownloadTips(bool succ, tdu1 task)
{
    Q_UNUSED(task)
    // Only the catalogue's result speaks of downloads: the answer to a
    // version report, or a catalogue given up on, must not touch a run.
    if (!m_catalogueInFlight)
        return;
    m_catalogueInFlight = false;
    setCatalogueState(succ ? CatalogueState::Ready : CatalogueState::Failed);
    if (m_windowMode != ModeReady) {
        setControls([](Controls &c) { c.customKeyVisible = false; });
        if (!isUpgrading())
            setWindowMode(ModeFound);
        return;
    }
    setControls([succ](Controls &c) { c.upgradeEnabled = succ; });
}

bool ZoUpgradeWorkflow::isNewerVersion(const tVersion &cur, const tVersion &tar) const
{
    if (m_customBranch)
        return cur.number() != tar.number();
    return tar.number() > cur.number();
}

bool ZoUpgradeWorkflow::isCompileTimeDifferent(
    const tFcsDateTime &cur, const tFcsDateTime &tar) const
{
    qCDebug(lcUpgrade).noquote() << "current time:" << timeText(cur);
    qCDebug(lcUpgrade).noquote() << "target tiem:" << timeText(tar);
    if (!m_customBranch)
        return false;
    const int d
        = std::abs((int(tar.minute) - int(cur.minute)) * 60 - int(cur.second) + int(tar.second))
        % 65536;
    return cur.year != tar.year || cur.month != tar.month || cur.day != tar.day
        || cur.hour != tar.hour || d >= 1201;
}

void ZoUpgradeWorkflow::applyTarget(ZoDevFMInfo &record, const ZoFRMFileInfo &info)
{
    record.tarVersion = info.version;
    tVersion headerVersion;
    tFcsDateTime headerTime;
    if (info.headerVersion(headerVersion) && info.headerCompileTime(headerTime)) {
        record.tarVersion = headerVersion;
        record.tarCompileTime = headerTime;
    }
    record.releaseNote = m_env.language == QLatin1String("zh_CN")
        ? info.upgradeDescription
        : info.upgradeDescriptionEn;
    m_heldBack.remove(record.key);

    bool u = record.needUpgrade || isNewerVersion(record.curVersion, record.tarVersion);
    if (m_coreRows.contains(record.key)) {
        const tdu1 curType = record.curVersion.type;
        const tdu1 tarType = record.tarVersion.type;
        if (ZoUtils::protocolClass(curType) == ZoUtils::ClassCore && m_protType == 1
            && m_branchIndex != BranchCustom && record.curVersion.number() < kVersionLine
            && record.tarVersion.number() >= kVersionLine) {
            record.releaseNote.clear();
            m_heldBack.insert(record.key);
            Q_EMIT sigTargetChanged(record.key, record.tarVersion, QString(), false);
            return;
        }
        if (curType != tarType && ZoUtils::sameCoreFamily(curType, tarType)) {
            u = true;
            record.needUpgrade = true;
        } else if (!u && m_customBranch && m_compileTimeKnown) {
            // Same version on a custom branch: a different build still counts.
            u = isCompileTimeDifferent(record.curCompileTime, record.tarCompileTime);
            record.needUpgrade = u;
        }
    }
    Q_EMIT sigTargetChanged(record.key, record.tarVersion, record.releaseNote, u);
}

void ZoUpgradeWorkflow::onUpdateDevFRMTarInfo(ZoFRMFileInfo tarFileInfo)
{
    m_store->setFRMFileInfo(tarFileInfo);
    // Every device of that type takes the file: serial-bus modules are keyed
    // with their device number, and each of them needs it.
    for (auto it = m_records.begin(); it != m_records.end(); ++it) {
        if ((it.key() >> 16) != tarFileInfo.fid || it.key() == 0)
            continue;
        applyTarget(*it, tarFileInfo);
    }
    if (m_core.key != 0 && m_records.contains(m_core.key)) {
        const ZoDevFMInfo &core = m_records[m_core.key];
        m_core.tarVersion = core.tarVersion;
        m_core.tarCompileTime = core.tarCompileTime;
        m_core.releaseNote = core.releaseNote;
    }
}

bool ZoUpgradeWorkflow::needsUpgrade(const ZoDevFMInfo &r) const
{
    // Without a target there is nothing to flash, whatever the branch.
    if (r.tarVersion.type == 0 || m_heldBack.contains(r.key))
        return false;
    return r.needUpgrade || (m_customBranch && r.curVersion.number() != r.tarVersion.number())
        || r.tarVersion.number() > r.curVersion.number();
}

ZoUpgradeWorkflow::Pick ZoUpgradeWorkflow::pickNextDevice() const
{
    Pick pick;
    for (auto it = m_records.cbegin(); it != m_records.cend(); ++it) {
        if (it.key() == 0 || !m_moduleRows.contains(it.key()) || !needsUpgrade(*it))
            continue;
        const tdu1 type = it->curVersion.type;
        pick.devId = type;
        pick.devNum = ZoUtils::protocolClass(type) == ZoUtils::ClassCanByDevNum
            ? it->devIdx
            : tdu1(it.key() & 0xFF);
        pick.key = it.key();
        return pick;
    }
    QList<const ZoDevFMInfo *> boards;
    const ZoDevFMInfo *core = nullptr;
    for (auto it = m_records.cbegin(); it != m_records.cend(); ++it) {
        if (it.key() == 0 || !(m_coreRows.contains(it.key()) || m_altCoreRows.contains(it.key()))
            || !needsUpgrade(*it))
            continue;
        if (isBoard(it->tarVersion.type))
            boards.append(&*it);
        else
            core = &*it;
    }
    if (!boards.isEmpty()) {
        pick.devId = boards.first()->tarVersion.type;
        pick.devNum = boards.first()->devIdx;
        pick.key = boards.first()->key;
    } else if (core) {
        pick.devId = core->tarVersion.type;
        pick.isCore = true;
        pick.key = core->key;
    }
    return pick;
}

// ---- an upgrade-all run ---------------------------------------------------------

void ZoUpgradeWorkflow::upgradeAll()
{
    if (isUpgrading() || m_question != QuestionNone)
        return;
    if (m_reconnectCheck) {
        ask(QuestionSameDevice, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "MsgConfirm")),
            tr("MsgPlsCheckIsSameDev"),
            {{ButtonYes, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "BtnYes"))},
                {ButtonNo, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "BtnMessageBoxNo"))}},
            [this](int button) {
                if (button == ButtonYes) {
                    m_reconnectCheck = false;
                    upgradeAll();
                }
            });
        return;
    }
    setControls([](Controls &c) {
        c.upgradeEnabled = false;
        c.branchEnabled = false;
        c.manualAddEnabled = false;
        c.coreHeaderEnabled = false;
    });
    resetUpgradeState();
    const Pick pick = pickNextDevice();
    if (pick.devId == 0) {
        enableControls();
        m_allUpgraded = true;
        endRun(RunOutcome::Completed, 0);
        return;
    }
    if (!prepareUpgrade(pick)) {
        enableControls();
        endRun(RunOutcome::FirmwareUnusable, pick.key);
        Q_EMIT sigPlaySound(false);
        return;
    }
    startDevice(pick);
}

bool ZoUpgradeWorkflow::startDevice(const Pick &pick)
{
    if (pick.isCore)
        sendCoreEnterBootloader();
    else
        sendModuleEnterBootloader(pick.devId, pick.devNum);
    m_ctx.step = StepEnterBootloader;
    m_stepTimer->start(m_timings.enterBootloaderMs);
    qCDebug(lcUpgrade).noquote() << "Start to All upgrade current devId:" << hexId(pick.devId)
                                 << m_windowMode;
    return true;
}

bool ZoUpgradeWorkflow::prepareUpgrade(const Pick &pick)
{
    if (pick.devId == 0) {
        resetUpgradeState();
        return false;
    }
    m_ctx.devId = pick.devId;
    m_ctx.devNum = pick.devNum;
    m_ctx.key = pick.key;
    qCDebug(lcUpgrade).noquote() << "Current upgrade devId" << hexId(pick.devId) << pick.devNum;

    bool found = false;
    const ZoFRMFileInfo file = m_store->getFRMFileInfo(pick.devId, found);
    tVersion headerVersion;
    if (!found || !file.data || !file.hasHeader() || !file.headerVersion(headerVersion)
        || headerVersion.type != pick.devId) {
        qCWarning(lcUpgrade).noquote() << "no usable firmware for devId" << hexId(pick.devId);
        resetUpgradeState();
        return false;
    }
    std::copy(file.data, file.data + 48, m_ctx.header.begin());
    qCDebug(lcUpgrade, "mFileVersion ver.Major:%d,ver.Minor:%d,ver.Revision:%d",
        headerVersion.major, headerVersion.minor, headerVersion.revision);

    tdu4 sizeField = 0;
    file.headerImageLength(sizeField);
    const tdu4 present = file.availableImageSize();
    const quint64 body = present >= sizeField ? present : sizeField;
    const quint64 n = (body + PageBytes - 1) / PageBytes * PageBytes;
    if (n == 0 || n > quint64(MaxImageBytes)) {
        qCWarning(lcUpgrade).noquote()
            << "firmware image of" << body << "bytes does not fit a transfer";
        resetUpgradeState();
        return false;
    }
    // Filler (short files, the last page, and the one chunk the last program
    // message carries past the image) is erased flash: 0xFF.
    m_ctx.image = QByteArray(int(n) + PageBytes, char(0xFF));
    const tdu4 copied = std::min<tdu4>(present, tdu4(n));
    std::copy(file.data + 48, file.data + 48 + copied, m_ctx.image.data());
    m_ctx.pageCount = tds4(n / PageBytes);
    m_ctx.chunkSize = 64;
    qCDebug(lcUpgrade, "mFileSize:%d,bufferSize: %d, mFilePageSize: %d", int(sizeField), int(n),
        m_ctx.pageCount);

    Q_EMIT sigProgressRange(pick.key, m_ctx.pageCount * PageBytes);
    m_stats[pick.key] = TransferStats();
    m_stats[pick.key].startMs = nowMs();
    updateRowProgress(m_ctx.chunkSize);

    if (m_moduleRows.contains(pick.key) && !pick.isCore) {
        setWindowMode(ModeModuleUpgrade);
    } else if (m_coreRows.contains(pick.key) || m_altCoreRows.contains(pick.key)) {
        setWindowMode(ModeModuleUpgrade);
        if (pick.isCore) {
            m_ctx.chunkSize = PageBytes;
            setWindowMode(ModeCoreUpgrade);
        }
    }
    return true;
}

void ZoUpgradeWorkflow::updateRowProgress(tds4 value)
{
    if (m_ctx.key == 0)
        return;
    Q_EMIT sigCurrentRow(m_ctx.key);
    Q_EMIT sigProgress(m_ctx.key, value);
}

void ZoUpgradeWorkflow::onSingleFRMUpgradeTimeout()
{
    qCDebug(lcUpgrade) << "Upgrading time out" << m_ctx.step;
    switch (m_ctx.step) {
    case StepEnterBootloader:
        qCDebug(lcUpgrade, "EnterUpgradeMode: %lld", static_cast<long long>(nowMs()));
        if (!sendEraseFlash()) {
            m_ctx.step = StepIdle;
            qCWarning(lcUpgrade) << "updateFcs failed";
        }
        return;
    case StepErase:
        // Not an error: some bootloaders erase without a word.
        sendProgramData();
        return;
    case StepProgram:
        ++m_ctx.retries;
        if (m_ctx.retries <= MaxResends) {
            m_stats[m_ctx.key].resends++;
            sendProgramData();
            return;
        }
        // A core may restart before it acknowledges its last block.
        if (m_windowMode == ModeCoreUpgrade
            && m_ctx.offset + m_ctx.chunkSize >= m_ctx.pageCount * PageBytes) {
            onGNCUpgradeProgAck(m_ctx.offset);
            return;
        }
        failRun();
        return;
    default:
        return;
    }
}

void ZoUpgradeWorkflow::failRun()
{
    const tds4 key = m_ctx.key;
    m_stats[key].endMs = nowMs();
    Q_EMIT sigDeviceResult(key, false);
    resetUpgradeState();
    setControls([](Controls &c) {
        c.upgradeEnabled = true;
        c.branchEnabled = true;
    });
    Q_EMIT sigPlaySound(false);
    endRun(RunOutcome::DeviceFailed, key);
}

void ZoUpgradeWorkflow::onGNCUpgEraseFlashAck()
{
    eraseAcknowledged(ModeCoreUpgrade);
}

void ZoUpgradeWorkflow::onCANDevUpgEraseFlashAck()
{
    eraseAcknowledged(ModeModuleUpgrade);
}

void ZoUpgradeWorkflow::eraseAcknowledged(tds4 mode)
{
    if (m_windowMode != mode || m_ctx.step != StepErase)
        return;
    m_stepTimer->stop();
    sendProgramData();
}

void ZoUpgradeWorkflow::onGNCUpgradeProgAck(tds4 upgradeSize)
{
    programAcknowledged(ModeCoreUpgrade, upgradeSize);
}

void ZoUpgradeWorkflow::onCANDevUpgradeProgAck(tds4 upgradeSize)
{
    programAcknowledged(ModeModuleUpgrade, upgradeSize);
}

void ZoUpgradeWorkflow::programAcknowledged(tds4 mode, tds4 upgradeSize)
{
    // Late duplicates and replies from the other kind of device change nothing.
    if (m_windowMode != mode || m_ctx.step != StepProgram || upgradeSize != m_ctx.offset)
        return;
    m_stepTimer->stop();
    m_ctx.retries = 0;
    updateRowProgress(m_ctx.offset);
    if (m_ctx.offset >= m_ctx.pageCount * PageBytes) {
        deviceDone();
        return;
    }
    m_ctx.offset += m_ctx.chunkSize;
    qCDebug(lcUpgrade).noquote() << "Success to devId" << hexId(m_ctx.devId)
                                 << "trans size:" << m_ctx.offset << m_ctx.pageCount * PageBytes;
    sendProgramData();
}

void ZoUpgradeWorkflow::deviceDone()
{
    const bool core = m_windowMode == ModeCoreUpgrade;
    for (int i = 0; i < 3; ++i) {
        if (core)
            sendCoreLeaveBootloader();
        else
            sendModuleLeaveBootloader(m_ctx.devId, m_ctx.devNum);
    }
    finishDevice();
    qCDebug(lcUpgrade).noquote() << "Upgrade the device done" << hexId(m_ctx.devId)
                                 << "cost Msec(ms):" << nowMs() - m_ctx.startTime;
    // The leave frames must reach the link before the looper goes back to the
    // application protocol, which empties its send queue.
    afterQueuedSends([this, core] {
        if (!core) {
            QTimer::singleShot(m_timings.betweenDevicesMs, this, [this] { startNextDevice(); });
            return;
        }
        resetUpgradeState();
        enableControls();
        Q_EMIT sigPlaySound(true);
        endRun(RunOutcome::Completed, 0);
    });
}

void ZoUpgradeWorkflow::finishDevice()
{
    m_ctx.step = StepDone;
    const tds4 key = m_ctx.key;
    m_stats[key].endMs = nowMs();
    auto it = m_records.find(key);
    if (it == m_records.end())
        return;
    it->needUpgrade = false;
    it->curVersion = it->tarVersion;
    it->curCompileTime = it->tarCompileTime;
    if (key == m_core.key) {
        m_core.curVersion = it->curVersion;
        m_core.curCompileTime = it->curCompileTime;
    }
    if (m_versionReporting) {
        m_cloud->editVersion(it->curVersion, it->serial);
        Q_EMIT sigVersionReported(key, it->curVersion, it->serial);
    }
    qCCritical(lcUpgrade).noquote() << "mode upgrade done sn" << it->serial << "newest version"
                                    << ZoUtils::versionText(it->curVersion);
    Q_EMIT sigRecordChanged(key);
    Q_EMIT sigDeviceResult(key, true);
}

void ZoUpgradeWorkflow::startNextDevice()
{
    resetUpgradeState();
    const Pick pick = pickNextDevice();
    if (pick.devId == 0) {
        enableControls();
        m_allUpgraded = true;
        Q_EMIT sigPlaySound(true);
        endRun(RunOutcome::Completed, 0);
        return;
    }
    if (prepareUpgrade(pick)) {
        startDevice(pick);
        return;
    }
    // Nothing is shown here; the run cannot go on, so say how it ended.
    setControls([](Controls &c) {
        c.upgradeEnabled = true;
        c.manualAddEnabled = true;
    });
    Q_EMIT sigPlaySound(false);
    endRun(RunOutcome::FirmwareUnusable, pick.key);
}

// ---- sending --------------------------------------------------------------------

bool ZoUpgradeWorkflow::looperReady(bool needTransferCodec) const
{
    return m_looper && m_looper->isRunning() && m_looper->fcsProtocol.load()
        && (!needTransferCodec || m_looper->updateProtocol.load());
}

bool ZoUpgradeWorkflow::sendCommand(const tdu1 *bytes, int length)
{
    if (!looperReady(false) || !bytes || length <= 0 || length > ZoMsgLooper::RecordSize)
        return false;
    if (!m_looper->sendQueue.push(bytes, tdu2(length)))
        return false;
    Q_EMIT m_looper->sigSendCmd();
    return true;
}

void ZoUpgradeWorkflow::afterQueuedSends(std::function<void()> then)
{
    if (!m_looper || !m_looper->isRunning()) {
        then();
        return;
    }
    // The looper takes one record per sigSendCmd, in the order they were
    // posted; a call posted after them runs once they are all taken.
    QPointer<ZoUpgradeWorkflow> self(this);
    QMetaObject::invokeMethod(m_looper.get(), [self, then] {
        if (self)
            QMetaObject::invokeMethod(self.data(), [self, then] {
                if (self)
                    then();
            });
    });
}

bool ZoUpgradeWorkflow::sendCanPackage(tdu2 canId, bool standard, const tdu1 *data, int length)
{
    if (!looperReady(false) || length < 0 || length > 253)
        return false;
    tdu1 package[255] = {};
    const tdu2 word = tdu2((canId & 0x7FF) | (standard ? 0 : 0x8000));
    package[0] = tdu1(word & 0xFF);
    package[1] = tdu1(word >> 8);
    std::copy(data, data + length, package + 2);
    tdu1 n = tdu1((length + 2) % 256);
    const tdu1 *sub = m_looper->fcsProtocol.load()->makeCanSend(package, n);
    if (!sub || !sendCommand(sub, n))
        return false;
    qCDebug(lcUpgrade).noquote() << "Send CAN Package:" << QString::number(word, 16)
                                 << QByteArray(reinterpret_cast<const char *>(sub), n).toHex();
    return true;
}

bool ZoUpgradeWorkflow::sendBusPackage(tdu1 command, const tdu1 *data, int length)
{
    if (!looperReady(false) || length < 0 || length > 248)
        return false;
    tdu1 n = tdu1(length);
    const tdu1 *sub = m_looper->fcsProtocol.load()->makeBusSend(command, data, n);
    if (!sub || !sendCommand(sub, n))
        return false;
    qCDebug(lcUpgrade).noquote() << "Send BUS Package:" << QString::number(command, 16)
                                 << QByteArray(reinterpret_cast<const char *>(sub), n).toHex();
    return true;
}

bool ZoUpgradeWorkflow::sendModuleCommand(tdu1 devId, tdu1 devNum, int op)
{
    const int kind = ZoUtils::protocolClass(devId);
    if (kind == ZoUtils::ClassCore)
        return false;
    tdu1 d[8] = {};
    bool ok = false;
    switch (op) {
    case OpVersion:
        if (kind == ZoUtils::ClassBus) {
            d[0] = devId;
            d[1] = devNum;
            ok = sendBusPackage(BusVersion, d, 2);
        } else {
            d[0] = devId;
            d[1] = 0x10;
            d[2] = 0xFF;
            d[3] = 0xFF;
            ok = sendCanPackage(CanVersion, false, d, 8);
        }
        if (ok) {
            int airframe = 0;
            qCDebug(lcUpgrade).noquote() << "Send to Get CAN Device Firmware Version"
                                         << ZoUtils::deviceName(devId, airframe);
        }
        return ok;
    case OpEnter:
        d[0] = devId;
        if (kind == ZoUtils::ClassCan) {
            ok = sendCanPackage(CanEnter, true, d, 8);
        } else {
            d[1] = devNum;
            std::copy(kModuleKey, kModuleKey + 6, d + 2);
            ok = kind == ZoUtils::ClassBus ? sendBusPackage(BusEnter, d, 8)
                                           : sendCanPackage(CanEnterAddressed, true, d, 8);
        }
        break;
    case OpForceReport:
    case OpLeave: {
        const tdu1 command = op == OpLeave ? 0x50 : (kind == ZoUtils::ClassCan ? 0x22 : 0x41);
        if (kind == ZoUtils::ClassCan) {
            d[0] = command;
            ok = sendCanPackage(CanControl, true, d, 1);
        } else {
            d[0] = devId;
            d[1] = devNum;
            d[2] = command;
            ok = kind == ZoUtils::ClassBus ? sendBusPackage(BusControl, d, 8)
                                           : sendCanPackage(CanControl, true, d, 8);
        }
        break;
    }
    default:
        return false;
    }
    if (!ok)
        return false;
    const bool bus = kind == ZoUtils::ClassBus;
    const char *text = nullptr;
    if (op == OpEnter)
        text = bus ? "Send to set BUS Device Enter BootLoader"
                   : "Send to set CAN Device Enter BootLoader";
    else if (op == OpForceReport)
        text = bus ? "Send to Force Get BUS Device on BootLoader"
                   : "Send to Force Get CAN Device on BootLoader";
    else
        text = bus ? "Send to BUS Device Switch out BootLoader"
                   : "Send to CAN Device Switch out BootLoader";
    qCDebug(lcUpgrade).noquote() << text << kind << hexId(devId) << devNum;
    return true;
}

bool ZoUpgradeWorkflow::sendGetModuleVersion(tdu1 devId, tdu1 devNum)
{
    return sendModuleCommand(devId, devNum, OpVersion);
}

bool ZoUpgradeWorkflow::sendModuleEnterBootloader(tdu1 devId, tdu1 devNum)
{
    return sendModuleCommand(devId, devNum, OpEnter);
}

bool ZoUpgradeWorkflow::sendForceGetBootloader(tdu1 devId, tdu1 devNum)
{
    if (!sendModuleCommand(devId, devNum, OpForceReport))
        return false;
    m_pendingSelection = devId;
    Q_EMIT sigWaitPopup(true, 75);
    return true;
}

bool ZoUpgradeWorkflow::sendModuleLeaveBootloader(tdu1 devId, tdu1 devNum)
{
    return sendModuleCommand(devId, devNum, OpLeave);
}

bool ZoUpgradeWorkflow::sendCoreEnterBootloader()
{
    if (!looperReady(false))
        return false;
    tdu1 n = 0;
    ZoFcsProtocolBase *fcs = m_looper->fcsProtocol.load();
    const tdu1 *cmd
        = m_ctx.devId == 76 ? fcs->makeEnterBootloaderShort(n) : fcs->makeEnterBootloader(n);
    if (!sendCommand(cmd, n))
        return false;
    qCDebug(lcUpgrade) << "Send to GNC enter bootloader state to ready to uprade" << nowMs();
    return true;
}

bool ZoUpgradeWorkflow::sendCoreLeaveBootloader()
{
    if (!looperReady(true))
        return false;
    tdu1 frame[8] = {};
    tdu1 n = 0;
    m_looper->updateProtocol.load()->buildLeaveBootloader(frame, n, true);
    if (!sendCommand(frame, n))
        return false;
    qCDebug(lcUpgrade) << "Send to GNC switch out Bootloader state" << nowMs();
    return true;
}

bool ZoUpgradeWorkflow::sendGetEid()
{
    if (!looperReady(false))
        return false;
    tdu1 n = 0;
    const tdu1 *request = m_looper->fcsProtocol.load()->makeIdentityRequest(n);
    if (!sendCommand(request, n))
        return false;
    qCDebug(lcUpgrade) << "Send to Get Firmware EID Info";
    return true;
}

bool ZoUpgradeWorkflow::sendTransferFrame(const tdu1 *frame, int length)
{
    if (m_windowMode == ModeCoreUpgrade)
        return sendCommand(frame, length);
    if (ZoUtils::protocolClass(m_ctx.devId) == ZoUtils::ClassBus)
        return sendBusPackage(BusControl, frame, length);
    return sendCanPackage(CanTransfer, true, frame, length % 256);
}

bool ZoUpgradeWorkflow::sendEraseFlash()
{
    if (!looperReady(true))
        return false;
    ZoFirmwareUpdateProtocol *up = m_looper->updateProtocol.load();
    up->setKeyMode(0);
    const int kind = ZoUtils::protocolClass(m_ctx.devId);
    // The key frame encrypts the header in place; the context keeps the original.
    std::array<tdu1, 48> header = m_ctx.header;
    tdu1 out[ZoFirmwareUpdateProtocol::MaxBlock + 8] = {};
    tdu2 length = 0;
    if (m_windowMode == ModeCoreUpgrade) {
        m_looper->protocolMode = ZoMsgLooper::ModeModuleTransfer;
        m_looper->sendQueue.clear();
        m_looper->moduleVariant = tdu1(kind);
        length = up->buildKeyFrame(out, header.data(), true, m_ctx.devId, m_ctx.devNum, false);
    } else if (m_windowMode == ModeModuleUpgrade) {
        m_looper->protocolMode = ZoMsgLooper::ModeApplication;
        m_looper->sendQueue.clear();
        m_looper->moduleVariant = tdu1(kind);
        length = up->buildKeyFrame(out, header.data(), false, m_ctx.devId, m_ctx.devNum,
            kind == ZoUtils::ClassCanByDevNum || kind == ZoUtils::ClassBus);
    } else {
        return false;
    }
    if (length == 0 || !sendTransferFrame(out, length))
        return false;
    qCDebug(lcUpgrade) << "Start to Erase Flash Parameter" << length << nowMs();
    m_ctx.step = StepErase;
    m_stepTimer->start(m_timings.eraseMs);
    updateRowProgress(length);
    m_ctx.startTime = nowMs();
    return true;
}

bool ZoUpgradeWorkflow::sendProgramData()
{
    if (!looperReady(true) || m_ctx.image.isEmpty())
        return false;
    ZoFirmwareUpdateProtocol *up = m_looper->updateProtocol.load();
    up->setKeyMode(0);
    const int kind = ZoUtils::protocolClass(m_ctx.devId);
    // Never past the buffer: it holds one chunk of filler after the image.
    if (m_ctx.offset < 0 || m_ctx.offset + m_ctx.chunkSize > m_ctx.image.size())
        return false;
    const tdu1 *image = reinterpret_cast<const tdu1 *>(m_ctx.image.constData());
    tdu1 out[ZoFirmwareUpdateProtocol::MaxBlock + 8] = {};
    tdu2 length = 0;
    if (m_windowMode == ModeCoreUpgrade) {
        length = up->buildDataFrame(out, image, tdu4(m_ctx.offset), tdu2(m_ctx.chunkSize), true,
            m_ctx.devId, m_ctx.devNum, false);
    } else if (m_windowMode == ModeModuleUpgrade) {
        length = up->buildDataFrame(out, image, tdu4(m_ctx.offset), tdu2(m_ctx.chunkSize), false,
            m_ctx.devId, m_ctx.devNum, kind == ZoUtils::ClassCanByDevNum);
    } else {
        return false;
    }
    if (length == 0)
        return false;
    sendTransferFrame(out, length);
    m_stats[m_ctx.key].blocksSent++;
    qCDebug(lcUpgrade) << "Start to Dev Programe data" << length << nowMs();
    m_ctx.step = StepProgram;
    m_stepTimer->start(m_timings.blockMs);
    return true;
}

// ---- adding devices by hand -------------------------------------------------------

void ZoUpgradeWorkflow::onShowSelectModuleForm()
{
    const QList<tds4> missing = missingModules();
    if (missing.isEmpty()) {
        inform(viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "MsgInfo")),
            tr("MsgAllCANFoundOrManAddedDev"));
        return;
    }
    Q_EMIT sigSelectModules(missing);
}

void ZoUpgradeWorkflow::onManSelectModule(tdu1 devId)
{
    if (isUpgrading())
        return;
    const tdu1 devNum = m_ctx.devNum;
    sendModuleEnterBootloader(devId, devNum);
    m_pendingSelection = devId;
    m_manDetectTimer->start(m_timings.manualModuleMs);
    Q_EMIT sigWaitPopup(true, 0);
    QTimer::singleShot(m_timings.forceReportDelayMs, this, [this, devNum] {
        if (m_pendingSelection == 0)
            return;
        Q_EMIT sigWaitPopup(true, 50);
        // The module reports from its bootloader in the form of its bus kind.
        m_looper->moduleVariant = tdu1(ZoUtils::protocolClass(m_pendingSelection));
        sendForceGetBootloader(m_pendingSelection, devNum);
    });
}

void ZoUpgradeWorkflow::onWaitManDetectTimeout()
{
    m_manDetectTimer->stop();
    if (m_manualCore) {
        const tdu1 selected = m_pendingSelection;
        int airframe = 0;
        ask(QuestionForceAddCore, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "MsgConfirm")),
            QStringLiteral("%1\uFF1A[%2]")
                .arg(tr("MsgManualAddGNCFailedForceAdd"), ZoUtils::deviceName(selected, airframe)),
            {{ButtonYes, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "BtnYes"))},
                {ButtonNo, viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "BtnMessageBoxNo"))}},
            [this, selected](int button) {
                if (button == ButtonYes) {
                    Q_EMIT sigWaitPopup(false, 100);
                    tVersion forced;
                    forced.type = selected;
                    onUpdateGNCFMVersion(forced);
                } else {
                    Q_EMIT sigShowAddCore();
                    resetUpgradeState();
                }
            });
        return;
    }
    // A core row of the device being handled means a core is being added;
    // the header row under key 0 does not count.
    if (m_ctx.devId != 0 && m_coreRows.contains(tds4(m_ctx.devId) << 16) && m_pendingSelection != 44
        && m_pendingSelection != 45)
        return;
    if (ZoUtils::isArno2(coreType()) && m_pendingSelection == 45) {
        m_brisk2Type = 0;
        Q_EMIT sigBrisk2Type(0);
    }
    inform(
        viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "MsgInfo")), tr("MsgManualAddModuleFailed"));
    m_pendingSelection = 0;
    m_ctx.devId = 0;
    m_looper->moduleVariant = 0;
    Q_EMIT sigWaitPopup(false, 0);
}

void ZoUpgradeWorkflow::onManSelectCoreGNCDevice(tdu4 devId)
{
    if (isUpgrading())
        return;
    const tdu1 id = tdu1(devId);
    m_pendingSelection = id;
    m_ctx.devId = id;
    m_manualCore = true;
    m_compileTimeKnown = false;
    int airframe = 0;
    qCDebug(lcUpgrade).noquote() << "Current upgrade core gnc id:"
                                 << ZoUtils::deviceName(id, airframe);
    if (m_moduleRows.contains((tds4(id) << 16) + m_ctx.devNum)) {
        setWindowMode(ModeModuleUpgrade);
    } else if (m_coreRows.contains(tds4(id) << 16)) {
        m_ctx.chunkSize = PageBytes;
        setWindowMode(ModeCoreUpgrade);
    }
    sendCoreEnterBootloader();
    m_manDetectTimer->start(m_timings.manualCoreMs);
    Q_EMIT sigWaitPopup(true, 0);
    QTimer::singleShot(m_timings.forceReportDelayMs, this, [this] {
        if (!m_manualCore || !looperReady(true))
            return;
        Q_EMIT sigWaitPopup(true, 50);
        m_looper->protocolMode = ZoMsgLooper::ModeCoreBootloader;
        m_looper->sendQueue.clear();
        m_looper->moduleVariant = 0;
        tdu1 frame[8] = {};
        tdu1 command = 0;
        tdu1 n = 0;
        m_looper->updateProtocol.load()->buildReadParameters(frame, command, n, true);
        sendCommand(frame, n);
        qCDebug(lcUpgrade) << "Send to Read App Parameter on GNC Bootloader state" << nowMs();
    });
}

// ---- the core header's boxes -------------------------------------------------------

void ZoUpgradeWorkflow::onUpdateGNCDevIDByProtType(tds4 protType)
{
    const tdu1 core = coreType();
    if (ZoUtils::isArno2(core)) {
        const tds4 board = m_records.contains(0x2C0000) ? 0x2C0000 : 0x2D0000;
        if (m_records.contains(board) && m_records[board].needUpgrade) {
            Q_EMIT sigProtocolTypeReset(core);
            return;
        }
    }
    m_altCoreRows.clear();
    m_protType = protType;
    const tdu1 t = ZoUtils::firmwareIdFor(core, protType);
    const tds4 newKey = tds4(t) << 16;
    if (m_core.key != 0 && m_records.contains(m_core.key)) {
        if (!m_coreRows.contains(newKey))
            m_altCoreRows.insert(newKey);
        ZoDevFMInfo record = m_records[m_core.key];
        if (newKey != m_core.key) {
            record.key = newKey;
            m_records.insert(newKey, record);
        }
        ZoDevFMInfo &target = m_records[newKey];
        target.tarVersion = tVersion();
        target.releaseNote.clear();
        Q_EMIT sigTargetChanged(m_core.key, tVersion(), QString(), false);
    }
    if (m_windowMode < ModeFound)
        return;
    if (m_branchIndex == BranchCustom)
        requestFirmwareFor(t, 3, m_customKey);
    else
        requestFirmwareFor(t, m_branchIndex + 1, QString());
}

void ZoUpgradeWorkflow::onUpdateBrisk2Type(tdu1 type)
{
    if (!ZoUtils::isArno2(coreType()))
        return;
    m_brisk2Type = type;
    if (type == 0) {
        if (m_records.contains(0x2D0000)) {
            m_records[0x2D0000].needUpgrade = false;
            m_records.remove(0x2D0000);
            m_coreRows.remove(0x2D0000);
            Q_EMIT sigRowRemoved(0x2D0000);
        }
        return;
    }
    const bool data = m_records.contains(0x2C0000);
    const bool feature = m_records.contains(0x2D0000);
    if (data && !feature) {
        if (!m_records[0x2C0000].needUpgrade) {
            onManSelectModule(45);
        } else {
            inform(viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "MsgInfo")),
                tr("MsgR4DataBoardNeedUpgradeFirst"));
            m_brisk2Type = 0;
            Q_EMIT sigBrisk2Type(0);
        }
    } else if (!data && !feature) {
        inform(viewKey(QT_TRANSLATE_NOOP("ZoTolMainWindow", "MsgInfo")),
            tr("MsgNeedForceR4DataBoard"));
        m_brisk2Type = 0;
        Q_EMIT sigBrisk2Type(0);
    }
}
