// Renders every form of forms/ (and the message box, when the toolkit has
// one) in English and in Chinese to PNG files, so their layout can be looked
// at without the main window, and every compiled picture on one contact
// sheet. Run offscreen:
//
//   tolvane-form-screenshots <output dir> <dictionary dir>
//
// <output dir>/<language>/<name>.png and <output dir>/pictures.png (names in
// pictures.txt) are written; a dictionary FlashbayUpdate_<language>.qm in
// <dictionary dir> is used when present, otherwise the translation keys show.

#include "ZoAddGNCForm.h"
#include "ZoCoreFMHeaderForm.h"
#include "ZoDataLinkSettingForm.h"
#include "ZoHistoryForm.h"
#include "ZoLaneTimeline.h"
#include "ZoManualAddModuleForm.h"
#include "ZoModuleFMHeaderForm.h"
#include "ZoModuleFMInfoForm.h"
#include "ZoPlaneConfig.h"
#include "ZoSelectGNCForm.h"
#include "ZoSelectModuleForm.h"
#include "ZoTvkInstance.h"

#if __has_include("ZoTolMainWindow.h")
#include "ZoPlaneSearch.h"
#include "ZoSearchPlaneDeviceForm.h"
#include "ZoTolMainWindow.h"
#include "ZoUpgradeWorkflow.h"
#define TOLVANE_HAVE_MAIN_WINDOW 1
#endif
#include "ZoUtils.h"

#if __has_include("ZoHaldenUpdateForm.h")
#include "ZoHaldenUpdateForm.h"
#include "ZoListItemForm.h"
#include "ZoListItemHeaderForm.h"
#include "ZoUpgradeListWidget.h"
#define TOLVANE_HAVE_UPDATER 1
#endif

#if __has_include("ZoMessageBox.h")
#include "ZoMessageBox.h"
#define TOLVANE_HAVE_MESSAGE_BOX 1
#endif

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>

#include <tuple>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTranslator>
#include <QVBoxLayout>

#include <cstdio>
#include <functional>
#include <memory>
#include <tuple>

namespace {

tVersion version(tdu1 type, tdu1 major, tdu1 minor, tdu1 revision)
{
    tVersion v;
    v.type = type;
    v.major = major;
    v.minor = minor;
    v.revision = revision;
    return v;
}

ZoDevFMInfo device(tdu1 type, const tVersion &current)
{
    ZoDevFMInfo info;
    info.key = ZoDeviceKey(type);
    int airframe = ZoUtils::AirframeNone;
    info.name = ZoUtils::deviceName(type, airframe);
    info.icon = ZoUtils::iconPath(type);
    info.curVersion = current;
    return info;
}

// The device list draws its rows over the main window's dark picture; a plain
// dark host stands in for it, exactly the size of what it holds.
class Host : public QWidget
{
public:
    explicit Host(const QList<QWidget *> &children)
    {
        setObjectName(QStringLiteral("host"));
        setAttribute(Qt::WA_StyledBackground);
        setStyleSheet(QStringLiteral("QWidget#host{background-color:#1F2329;}"));
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        for (QWidget *child : children)
            layout->addWidget(child);
    }
};

class Shooter
{
public:
    explicit Shooter(const QString &dir)
        : m_dir(dir)
    {
    }

    bool shoot(const QString &name, QWidget *widget)
    {
        widget->show();
        QApplication::processEvents();
        const QString path = m_dir + QLatin1Char('/') + name + QStringLiteral(".png");
        const QPixmap picture = widget->grab();
        const bool ok = picture.save(path);
        std::printf("%s %dx%d%s\n", qPrintable(path), picture.width(), picture.height(),
            ok ? "" : " (not written)");
        m_failed = m_failed || !ok;
        return ok;
    }

    bool hosted(const QString &name, const QList<QWidget *> &children)
    {
        Host host(children);
        return shoot(name, &host);
    }

    bool failed() const { return m_failed; }

private:
    QString m_dir;
    bool m_failed = false;
};

void shootLinkSettings(Shooter &shooter)
{
    // Two identical adapters, each by its node and by its stable name.
    const auto ports = [] {
        const QString stable = QStringLiteral(
            "/dev/serial/by-id/usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_Controller_"
            "8a3c1e5f2b7de91197a4d2c%1-if00-port0");
        return QList<ZoDataLinkSettingForm::PortEntry> {{QStringLiteral("ttyUSB0"), false},
            {stable.arg(3), false}, {QStringLiteral("ttyUSB1"), false}, {stable.arg(4), false},
            {QStringLiteral("ttyS0"), false}};
    };
    ZoPlaneConfig *cfg = ZoTvkInstance::instance()->planeConfig();
    *cfg = ZoPlaneConfig();
    cfg->host = QStringLiteral("127.0.0.1");
    cfg->TcpServerHost = QStringLiteral("127.0.0.1");

    {
        ZoDataLinkSettingForm form;
        form.setPortLister(ports);
        shooter.shoot(QStringLiteral("datalink-udp"), &form);
        form.findChild<QRadioButton *>(QStringLiteral("rbSerialPort"))->click();
        auto *serial = form.findChild<QComboBox *>(QStringLiteral("cmbSerialPort"));
        serial->setCurrentIndex(3);
        shooter.shoot(QStringLiteral("datalink-serial"), &form);
        serial->showPopup();
        shooter.shoot(QStringLiteral("datalink-serial-list"), serial->view()->window());
        serial->hidePopup();
        form.onOpenCommState(ZoPlaneConfig::LinkSerialPort, true);
        shooter.shoot(QStringLiteral("datalink-serial-open"), &form);
        form.findChild<QRadioButton *>(QStringLiteral("rbTCPClient"))->setEnabled(true);
        form.onCloseCommState(true);
        form.findChild<QRadioButton *>(QStringLiteral("rbTCPClient"))->click();
        shooter.shoot(QStringLiteral("datalink-tcpclient"), &form);
    }
}

void shootDeviceList(Shooter &shooter)
{
    shooter.hosted(QStringLiteral("module-header"), {new ZoModuleFMHeaderForm});

    auto *core = new ZoCoreFMHeaderForm;
    core->setCore(QStringLiteral("Arno2"), version(41, 2, 20, 0));
    core->setEnabled(true);
    {
        int airframe = ZoUtils::AirframeNone;
        core->setCore(ZoUtils::deviceName(41, airframe), version(41, 2, 20, 0));
    }
    shooter.hosted(QStringLiteral("core-header"), {core});

    const auto row = [](tdu1 type, const tVersion &cur,
                         const std::function<void(ZoModuleFMInfoForm *)> &state) {
        auto *form = new ZoModuleFMInfoForm;
        form->init(device(type, cur));
        state(form);
        return form;
    };
    const auto offered = [](ZoModuleFMInfoForm *f) {
        f->setTarget(version(f->info().curVersion.type, 1, 6, 0), QString(), true);
    };
    const auto current
        = [](ZoModuleFMInfoForm *f) { f->setTarget(f->info().curVersion, QString(), false); };
    const auto running = [offered](ZoModuleFMInfoForm *f) {
        offered(f);
        f->setProgressRange(0, 100);
        f->setProgress(60);
    };
    // The last block sent, before the device has been read back.
    const auto transferred = [offered](ZoModuleFMInfoForm *f) {
        offered(f);
        f->setProgressRange(0, 100);
        f->setProgress(100);
    };
    const auto failed = [offered](ZoModuleFMInfoForm *f) {
        offered(f);
        f->setProgressRange(0, 100);
        f->setProgress(30);
        f->setResult(false);
    };

    shooter.hosted(
        QStringLiteral("row-new"), {row(77, version(77, 1, 2, 0), [](ZoModuleFMInfoForm *) {})});
    shooter.hosted(QStringLiteral("row-offered"), {row(77, version(77, 1, 2, 0), offered)});
    shooter.hosted(QStringLiteral("row-current"), {row(38, version(38, 3, 1, 4), current)});
    shooter.hosted(QStringLiteral("row-progress"), {row(83, version(83, 1, 0, 9), running)});
    shooter.hosted(QStringLiteral("row-failed"), {row(79, version(79, 2, 0, 0), failed)});

    // The states the engine's records give a row: a module answering only
    // from its bootloader or not at all, one being read back after its
    // transfer, and what a run did to it; one by one, then stacked.
    using Presence = ZoDevFMInfo::Presence;
    using Result = ZoDevFMInfo::Result;
    const auto state = [offered](tdu1 type, const tVersion &cur, Presence presence, Result result,
                           const tVersion &reported) {
        return [=]() -> QWidget * {
            ZoDevFMInfo record = device(type, cur);
            record.presence = presence;
            auto *form = new ZoModuleFMInfoForm;
            form->init(record);
            offered(form);
            record.result = result;
            record.confirmedVersion = reported;
            if (result == Result::Upgraded)
                record.curVersion = reported;
            form->setRecord(record, result == Result::None);
            return form;
        };
    };
    const tVersion none;
    const auto phase = [row, offered](ZoDevicePhase::Phase p) {
        return [row, offered, p]() -> QWidget * {
            return row(83, version(83, 1, 0, 9), [offered, p](ZoModuleFMInfoForm *f) {
                offered(f);
                f->setPhase(p);
            });
        };
    };
    const QList<QPair<QString, std::function<QWidget *()>>> states {
        {QStringLiteral("row-stranded"),
            state(38, version(38, 1, 0, 0), Presence::InBootloader, Result::None, none)},
        {QStringLiteral("row-not-answering"),
            state(77, none, Presence::NotAnswering, Result::None, none)},
        {QStringLiteral("row-entering"), phase(ZoDevicePhase::Entering)},
        {QStringLiteral("row-erasing"), phase(ZoDevicePhase::Erasing)},
        {QStringLiteral("row-confirming"),
            [row, transferred] {
                return row(83, version(83, 1, 0, 9), [transferred](ZoModuleFMInfoForm *f) {
                    transferred(f);
                    f->setConfirming();
                });
            }},
        {QStringLiteral("row-upgraded"),
            state(46, version(46, 1, 0, 0), Presence::Answering, Result::Upgraded,
                version(46, 1, 6, 0))},
        {QStringLiteral("row-not-confirmed"),
            state(38, version(38, 1, 0, 0), Presence::Answering, Result::NotConfirmed,
                version(38, 1, 0, 0))},
        {QStringLiteral("row-not-confirmed-silent"),
            state(79, version(79, 2, 0, 0), Presence::InBootloader, Result::NotConfirmed, none)},
        {QStringLiteral("row-interrupted"),
            state(77, version(77, 1, 2, 0), Presence::InBootloader, Result::Interrupted, none)},
    };
    QList<QWidget *> stacked {new ZoModuleFMHeaderForm};
    for (const auto &s : states) {
        shooter.hosted(s.first, {s.second()});
        stacked << s.second();
    }
    shooter.hosted(QStringLiteral("device-list-states"), stacked);

    // The list as the main window stacks it: module header, modules, the
    // manual-add row, then the core's header and row.
    auto *coreHeader = new ZoCoreFMHeaderForm;
    {
        int airframe = ZoUtils::AirframeNone;
        coreHeader->setCore(ZoUtils::deviceName(80, airframe), version(80, 2, 20, 0));
    }
    shooter.hosted(QStringLiteral("device-list"),
        {new ZoModuleFMHeaderForm, row(83, version(83, 1, 0, 9), running),
            row(77, version(77, 1, 2, 0), offered), row(38, version(38, 3, 1, 4), current),
            state(86, version(86, 1, 0, 0), Presence::Answering, Result::Upgraded,
                version(86, 1, 6, 0))(),
            new ZoManualAddModuleForm, coreHeader,
            row(80, version(80, 2, 20, 0), offered)});
}

void shootSelection(Shooter &shooter)
{
    shooter.hosted(QStringLiteral("add-gnc"), {new ZoAddGNCForm});
    shooter.hosted(QStringLiteral("manual-add-module"), {new ZoManualAddModuleForm});
    auto *folded = new ZoManualAddModuleForm;
    folded->setFolded(9, false);
    shooter.hosted(QStringLiteral("manual-add-module-folded"), {folded});
    {
        ZoSelectGNCForm form;
        shooter.shoot(QStringLiteral("select-gnc"), &form);
    }
    {
        ZoSelectModuleForm form;
        // What an Emba2 aircraft may miss: modules of one type on several
        // nodes are named with their node.
        form.setModules({ZoDeviceKey(83), ZoDeviceKey(46), ZoDeviceKey(79), ZoDeviceKey(77, 1),
            ZoDeviceKey(77, 2), ZoDeviceKey(86, 3)});
        form.onModuleIconClicked(2);
        shooter.shoot(QStringLiteral("select-module"), &form);
    }
}

// An Emba2 aircraft's flash history over half a year: its core, its data
// board and six modules, one of them a twin on node 2, with every result
// the recorder writes.
void shootHistory(Shooter &shooter)
{
    const auto row = [](const char *when, int type, int number, const char *before,
                         const char *target, const char *confirmed, const char *result,
                         const char *failure, const char *source) {
        ZoFlashHistory::Row r;
        r.time = QDateTime::fromString(QLatin1String(when), Qt::ISODate);
        r.time.setTimeSpec(Qt::UTC);
        r.eid = QStringLiteral("E2-00417");
        r.type = type;
        r.number = number;
        r.before = QLatin1String(before);
        r.confirmed = QLatin1String(confirmed);
        r.target = QLatin1String(target);
        r.result = QLatin1String(result);
        r.failure = QLatin1String(failure);
        r.source = QLatin1String(source);
        r.sha256 = QString::fromLatin1(
            QCryptographicHash::hash(QByteArray(when) + char(type), QCryptographicHash::Sha256)
                .toHex());
        r.size = 180000 + type * 1000;
        r.seconds = 8.5 + type % 7 * 3.1;
        r.resends = type % 3;
        r.link = QStringLiteral("udp:127.0.0.1:14550");
        return r;
    };
    ZoHistoryForm form;
    form.resize(700, 580);
    form.setRows(QStringLiteral("E2-00417"),
        {row("2026-06-02T09:14:00", 80, 0, "2.18.0", "2.19.1", "2.19.1", "upgraded", "", "stable"),
            row("2026-06-02T09:10:00", 38, 0, "1.0.0", "1.0.4", "1.0.4", "upgraded", "", "stable"),
            row("2026-06-02T09:12:00", 77, 2, "1.0.4", "1.1.0", "1.1.0", "upgraded", "", "stable"),
            row("2026-08-19T14:40:00", 83, 0, "1.0.9", "1.1.0", "", "failed", "link lost",
                "stable"),
            row("2026-08-19T15:02:00", 83, 0, "1.0.9", "1.1.0", "1.1.0", "upgraded", "", "stable"),
            row("2026-08-19T15:05:00", 86, 0, "1.0.0", "1.1.0", "1.0.0", "not confirmed",
                "wrong version", "development"),
            row("2026-10-07T11:20:00", 80, 0, "2.19.1", "2.20.0", "2.20.0", "upgraded", "",
                "custom:fieldtest"),
            row("2026-10-07T11:16:00", 77, 2, "1.1.0", "1.2.0", "", "interrupted",
                "block time-out at block 12", "folder"),
            row("2026-11-30T16:45:00", 77, 2, "", "1.2.0", "1.2.0", "upgraded", "", "folder"),
            row("2026-11-30T16:41:00", 38, 0, "1.0.4", "1.0.4", "1.0.4", "up to date", "",
                "stable"),
            row("2026-06-02T09:11:00", 79, 1, "1.2.3", "3.1.2", "3.1.2", "upgraded", "", "stable"),
            row("2026-10-07T11:18:00", 46, 0, "1.0.0", "1.6.0", "1.6.0", "upgraded", "", "stable"),
            row("2026-08-19T14:52:00", 57, 0, "1.1.0", "1.2.0", "1.2.0", "upgraded", "",
                "stable")});
    // The window adds its Roll back in front of Close.
    form.buttonRow()->insertWidget(1,
        new QPushButton(QCoreApplication::translate("ZoTolMainWindow", "BtnRollBack"), &form));
    shooter.shoot(QStringLiteral("history"), &form);
    // Where nothing is on record yet.
    form.setRows(QStringLiteral("E2-00418"), {});
    shooter.shoot(QStringLiteral("history-empty"), &form);
}

void shootMessageBoxes(Shooter &shooter)
{
#ifdef TOLVANE_HAVE_MESSAGE_BOX
    {
        // The boxes the upgrade shows, with the texts the window would give them.
        ZoMessageBox box(nullptr, QCoreApplication::translate("ZoTolMainWindow", "MsgInfo"),
            QCoreApplication::translate("ZoUpgradeWorkflow", "MsgAllDevUpgraded"));
        box.setIconPixmap(QStringLiteral(":/toolkit/resource/msgbox/informationblue.png"));
        shooter.shoot(QStringLiteral("msgbox-information"), &box);
    }
    // The engine's refusals, with the names they carry filled in.
    for (const auto &[name, context, key, arg] :
        {std::make_tuple("msgbox-refused-file", "ZoTargetIntake", "MsgFirmwareHeaderMismatch",
             "Emba2 flight controller"),
            std::make_tuple("msgbox-journal-unwritable", "ZoTolMainWindow",
                "MsgRunJournalUnwritable", "Emba2 flight controller"),
            std::make_tuple("msgbox-core-unidentified", "ZoTolMainWindow", "MsgRunCoreUnidentified",
                "Emba2 flight controller"),
            std::make_tuple("msgbox-history-unwritable", "ZoTolMainWindow", "MsgHistoryUnwritable",
                "cannot create /home/tech/.local/state/tolvane")}) {
        QString text = QCoreApplication::translate(context, key).arg(QLatin1String(arg));
        if (QLatin1String(key) == QLatin1String("MsgFirmwareHeaderMismatch"))
            text = text.arg(80).arg(38);
        ZoMessageBox box(nullptr, QCoreApplication::translate("ZoTolMainWindow", "MsgInfo"), text);
        box.setIconPixmap(QStringLiteral(":/toolkit/resource/msgbox/informationblue.png"));
        shooter.shoot(QLatin1String(name), &box);
    }
    {
        // A module in its bootloader that no file names, given the cached image.
        int airframe = ZoUtils::AirframeNone;
        ZoMessageBox box(nullptr, QCoreApplication::translate("ZoTolMainWindow", "MsgInfo"),
            QCoreApplication::translate("ZoTolMainWindow", "MsgImageFromCacheThisAircraft")
                .arg(ZoUtils::deviceName(77, airframe), QStringLiteral("V1.1.0")));
        box.setIconPixmap(QStringLiteral(":/toolkit/resource/msgbox/informationblue.png"));
        shooter.shoot(QStringLiteral("msgbox-image-from-cache"), &box);
    }
    {
        ZoMessageBox box(nullptr, QCoreApplication::translate("ZoTolMainWindow", "MsgConfirm"),
            QCoreApplication::translate("ZoUpgradeWorkflow", "MsgPlsCheckIsSameDev"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        box.setIconPixmap(QStringLiteral(":/toolkit/resource/msgbox/questionblue.png"));
        shooter.shoot(QStringLiteral("msgbox-question"), &box);
    }
    {
        // Nothing found while a serial port refused the user: the window puts
        // why ahead of the not-found question.
        const auto window
            = [](const char *key) { return QCoreApplication::translate("ZoTolMainWindow", key); };
        ZoMessageBox box(nullptr, window("MsgInfo"),
            window("MsgSerialPortDenied").arg(QStringLiteral("/dev/ttyUSB0"))
                + QStringLiteral("\n\n")
                + QCoreApplication::translate("ZoUpgradeWorkflow", "MsgFCSNotFoundRetryCancel"),
            QMessageBox::Yes | QMessageBox::Cancel);
        box.setButtonText(QMessageBox::Yes, window("BtnRetry"));
        box.setButtonText(QMessageBox::Cancel, window("BtnCancel"));
        box.setIconPixmap(QStringLiteral(":/toolkit/resource/msgbox/questionblue.png"));
        shooter.shoot(QStringLiteral("msgbox-port-denied"), &box);
    }
#else
    Q_UNUSED(shooter)
#endif
}

// The main window while it searches, and after a search, its rows filled
// through the engine's slots as the looper would report the aircraft. Its
// links point at loopback ports nobody serves and no serial port is offered.
void shootMainWindow(Shooter &shooter)
{
#ifdef TOLVANE_HAVE_MAIN_WINDOW
    ZoPlaneConfig config;
    config.host = QStringLiteral("127.0.0.1");
    config.hostport = 9;
    config.TcpServerHost = QStringLiteral("127.0.0.1");
    config.TcpServerHostPort = 9;
    ZoUpgradeEnvironment env = ZoUpgradeEnvironment::from(*ZoTvkInstance::instance());
    env.link = &config;
    env.portEnumerator = [] { return QList<ZoPlaneSearch::PortCandidate>(); };
    ZoTolMainWindow window(env);
    ZoUpgradeWorkflow *engine = window.engine();
    shooter.shoot(QStringLiteral("main-window-searching"), &window);

    engine->onPlaneConnectionChanged(true);
    engine->onUpdateGNCFMVersion(version(80, 1, 7, 5));
    engine->onUpdateCANDevVersion(version(38, 1, 0, 0), 0, QStringLiteral("3800"));
    engine->onUpdateCANDevVersion(version(77, 1, 0, 4), 2, QStringLiteral("7702"));
    engine->onUpdateCANDevVersion(version(83, 1, 1, 0), 0, QStringLiteral("8300"));
    window.searchForm()->hide();
    // A row selected, as a transfer makes its row current: the selection and
    // the row end together.
    auto *list = window.findChild<QListWidget *>(QStringLiteral("listWidgetModuleInfo"));
    list->setCurrentRow(1);
    shooter.shoot(QStringLiteral("main-window"), &window);

    // More modules than the list shows: the scroll bar takes its width from
    // the rows.
    engine->onUpdateCANDevVersion(version(46, 1, 0, 0), 0, QStringLiteral("4600"));
    engine->onUpdateCANDevVersion(version(79, 2, 0, 0), 0, QStringLiteral("7900"));
    engine->onUpdateCANDevVersion(version(57, 1, 1, 0), 0, QStringLiteral("5700"));
    engine->onUpdateCANDevVersion(version(58, 1, 1, 0), 0, QStringLiteral("5800"));
    list->setCurrentRow(2);
    shooter.shoot(QStringLiteral("main-window-scrolling"), &window);
#else
    Q_UNUSED(shooter)
#endif
}

// The updater's window with an ordinary offer unfolded, and with a mandatory
// one downloading, in the updater's own dictionary and style sheet. Its
// archive address is a loopback port nobody serves.
void shootUpdater(Shooter &shooter, const QString &language)
{
#ifdef TOLVANE_HAVE_UPDATER
    QTranslator translator;
    translator.load(QStringLiteral(":/dict/ZoHaldenUpdate_") + language + QStringLiteral(".qm"));
    QApplication::installTranslator(&translator);
    QFile style(QStringLiteral(":/qss/resource/dark.qss"));
    if (style.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromLatin1(style.readAll()));

    ZoHaldenUpdateInfo info;
    info.version = QStringLiteral("2.1.10");
    info.description = QStringLiteral(
        "Faster firmware download; clearer messages when the aircraft disconnects.\n"
        "Modules of the serial bus are found again after a restart.");
    info.url = QStringLiteral("http://127.0.0.1:9/Tolvane-2.1.10.zip");
    {
        ZoHaldenUpdateForm form;
        form.setLanguage(language);
        form.setName(QStringLiteral("\"tolvane-screenshot-nobody\""));
        info.importanceLevel = 2;
        form.onHaldenUpgradeTipDownloaded(info);
        form.upgradeList()->onSelectChanged(0, true);
        shooter.shoot(QStringLiteral("updater-offer"), &form);
    }
    {
        ZoHaldenUpdateForm form;
        form.setLanguage(language);
        form.setName(QStringLiteral("\"tolvane-screenshot-nobody\""));
        info.importanceLevel = 1;
        form.onHaldenUpgradeTipDownloaded(info);
        form.onDownloadProgress(453, 1000);
        shooter.shoot(QStringLiteral("updater-mandatory"), &form);
    }
    qApp->setStyleSheet(QString());
    QApplication::removeTranslator(&translator);
#else
    Q_UNUSED(shooter)
    Q_UNUSED(language)
#endif
}

// Every compiled picture on one sheet, device icons also at the 48 px of the
// device rows, where they have to stay legible; the names in reading order go
// to a text file beside it.
bool writeContactSheet(const QString &outDir)
{
    QStringList paths;
    for (const QString &root : {QStringLiteral(":/resource"), QStringLiteral(":/toolkit")}) {
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            paths << it.next();
    }
    paths.sort();
    const int cell = 150;
    const int columns = 6;
    const int rows = (paths.size() + columns - 1) / columns;
    QImage sheet(columns * cell, qMax(rows, 1) * cell, QImage::Format_ARGB32);
    sheet.fill(QColor(0x2b, 0x2e, 0x33));
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QStringList index;
    for (int i = 0; i < paths.size(); ++i) {
        const QImage image(paths.at(i));
        const QRect box((i % columns) * cell, (i / columns) * cell, cell, cell);
        painter.fillRect(box.adjusted(2, 2, -2, -2), QColor(0x33, 0x37, 0x3d));
        if (paths.at(i).contains(QLatin1String("/icon/"))) {
            painter.drawImage(QRect(box.x() + 8, box.y() + 43, 64, 64), image);
            painter.drawImage(QRect(box.x() + 88, box.y() + 51, 48, 48), image);
        } else {
            QSize shown = image.size();
            if (shown.width() > cell - 12 || shown.height() > cell - 12)
                shown = shown.scaled(cell - 12, cell - 12, Qt::KeepAspectRatio);
            painter.drawImage(
                QRect(box.center() - QPoint(shown.width() / 2, shown.height() / 2), shown), image);
        }
        index << QStringLiteral("%1,%2 %3").arg(i / columns).arg(i % columns).arg(paths.at(i));
    }
    painter.end();
    const QString out = outDir + QStringLiteral("/pictures");
    QFile names(out + QStringLiteral(".txt"));
    const bool ok = sheet.save(out + QStringLiteral(".png"))
        && names.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && names.write(index.join(QLatin1Char('\n')).toUtf8() + '\n') > 0;
    std::printf(
        "%s.png, %d pictures%s\n", qPrintable(out), int(paths.size()), ok ? "" : " (not written)");
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: %s <output dir> <dictionary dir>\n", argv[0]);
        return 2;
    }
    const QString outDir = args.at(1);
    const QString dictDir = args.at(2);

    // The link settings panel reads and may write sysconfig.xml in the
    // configuration folder; a working directory holding its own busdevcfg.xml
    // is that folder, which keeps the caller's and the user's settings away.
    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "no temporary working directory\n");
        return 1;
    }
    QFile busDevCfg(work.filePath(QStringLiteral("busdevcfg.xml")));
    if (!busDevCfg.open(QIODevice::WriteOnly) || busDevCfg.write("<busdevcfg/>\n") < 0) {
        std::fprintf(stderr, "cannot write busdevcfg.xml in the working directory\n");
        return 1;
    }
    busDevCfg.close();

    bool failed = false;
    for (const QString &language : {QStringLiteral("en_US"), QStringLiteral("zh_CN")}) {
        const QString dir = outDir + QLatin1Char('/') + language;
        if (!QDir().mkpath(dir)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(dir));
            return 1;
        }
        QTranslator translator;
        const QString dict = dictDir + QStringLiteral("/FlashbayUpdate_") + language;
        if (QFile::exists(dict + QStringLiteral(".qm")) && translator.load(dict))
            QApplication::installTranslator(&translator);
        else
            std::printf("%s: no dictionary, the keys show\n", qPrintable(language));

        Shooter shooter(dir);
        shootLinkSettings(shooter);
        shootDeviceList(shooter);
        shootSelection(shooter);
        shootHistory(shooter);
        shootMessageBoxes(shooter);
        shootMainWindow(shooter);
        QApplication::removeTranslator(&translator);
        shootUpdater(shooter, language);
        failed = failed || shooter.failed();
    }
    failed = !writeContactSheet(outDir) || failed;
    return failed ? 1 : 0;
}
