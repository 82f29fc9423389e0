#include "ZoDataLinkSettingForm.h"
#include "ZoPlaneConfig.h"
#include "ZoPortComboBox.h"
#include "ZoTestPlaneConfig.h"
#include "ZoTestWidgets.h"
#include "ZoTvkInstance.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// The form's open requests, as "udp(127.0.0.1,7001,7002)" in the order they came.
struct OpenRequests : QObject
{
    explicit OpenRequests(ZoDataLinkSettingForm *form)
    {
        record(form, &ZoDataLinkSettingForm::sigOpenComUdp, "udp");
        record(form, &ZoDataLinkSettingForm::sigOpenComTcpClient, "tcp");
        record(form, &ZoDataLinkSettingForm::sigOpenComSerial, "serial");
    }
    template <typename... A>
    void record(
        ZoDataLinkSettingForm *form, void (ZoDataLinkSettingForm::*signal)(A...), const char *kind)
    {
        connect(form, signal, this, [this, kind](A... a) {
            seen << QLatin1String(kind) + QLatin1Char('(')
                    + QStringList {QVariant(a).toString()...}.join(QLatin1Char(','))
                    + QLatin1Char(')');
        });
    }
    QStringList seen;
};

} // namespace

// Every link the form is asked to open points at loopback; the open signals
// are only spied on, nothing is connected to a socket.
class TstZoDataLinkSettingForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The configuration lives in the working directory: keep the test's
        // sysconfig.xml away from the source tree.
        QVERIFY(QDir::setCurrent(m_dir.path()));
    }

    void init()
    {
        QFile::remove(ZoTvkInstance::sysConfigPath());
        ZoPlaneConfig *cfg = ZoTvkInstance::instance()->planeConfig();
        *cfg = ZoPlaneConfig();
        cfg->host = QStringLiteral("127.0.0.1");
        cfg->TcpServerHost = QStringLiteral("127.0.0.1");
    }

    void portFieldsAreStoredAsApplied_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<uint>("stored");
        QTest::newRow("plain") << QStringLiteral("6075") << 6075u;
        QTest::newRow("largest") << QStringLiteral("32767") << 32767u;
        QTest::newRow("above 16 bits signed") << QStringLiteral("40000") << 0u;
        QTest::newRow("hexadecimal") << QStringLiteral("0x50") << 0u;
        QTest::newRow("negative") << QStringLiteral("-5") << 0u;
    }
    void portFieldsAreStoredAsApplied()
    {
        QFETCH(QString, typed);
        QFETCH(uint, stored);
        auto form = makeForm();
        zoChild<QRadioButton>(form.get(), "rbUDP")->click();
        QLineEdit *local = zoChild<QLineEdit>(form.get(), "leLocalPort");
        local->clear();
        QTest::keyClicks(local, typed);

        OpenRequests open(form.get());
        QTest::mouseClick(zoChild<QPushButton>(form.get(), "btnOpenCom"), Qt::LeftButton);

        QCOMPARE(ZoTvkInstance::instance()->planeConfig()->localPort, tdu4(stored));
        QCOMPARE(open.seen, QStringList {QStringLiteral("udp(127.0.0.1,6075,%1)").arg(stored)});

        // What was stored is what the next start reads back.
        ZoTvkInstance::instance()->planeConfig()->localPort = 1;
        QVERIFY(ZoTvkInstance::instance()->loadSysConfig());
        QCOMPARE(ZoTvkInstance::instance()->planeConfig()->localPort, tdu4(stored));
    }

    void closeButtonSavesAndHides()
    {
        auto form = makeForm();
        QVERIFY(!QFile::exists(ZoTvkInstance::sysConfigPath()));
        QTest::mouseClick(zoChild<QPushButton>(form.get(), "btnCloseWnd"), Qt::LeftButton);
        QVERIFY(QFile::exists(ZoTvkInstance::sysConfigPath()));
        QVERIFY(form->isHidden());
    }

    void radioChoosesPageTypeAndSignal_data()
    {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("linkType");
        QTest::addColumn<QString>("request");
        QTest::newRow("serial") << "rbSerialPort" << 0 << int(ZoPlaneConfig::LinkSerialPort)
                                << "serial(ttyTest0,57600,8,0,1)";
        QTest::newRow("udp") << "rbUDP" << 1 << int(ZoPlaneConfig::LinkUdp)
                             << "udp(127.0.0.1,7001,7002)";
        QTest::newRow("tcp client") << "rbTCPClient" << 2 << int(ZoPlaneConfig::LinkTcpClient)
                                    << "tcp(127.0.0.1,7003,7004)";
    }
    void radioChoosesPageTypeAndSignal()
    {
        QFETCH(QString, radio);
        QFETCH(QString, request);
        ZoPlaneConfig *cfg = ZoTvkInstance::instance()->planeConfig();
        *cfg = zoLinkFromFields(
            QStringLiteral("0||57600|8|0|1|127.0.0.1|7001|7002|127.0.0.1|7003|7004"));
        auto form = makeForm();
        form->setPortLister([] {
            return QList<ZoDataLinkSettingForm::PortEntry> {{QStringLiteral("ttyTest0"), false}};
        });

        auto *button = zoChild<QRadioButton>(form.get(), radio.toLatin1().constData());
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
        QVERIFY(button->isChecked());
        QTEST(zoChild<QStackedWidget>(form.get(), "swConnect")->currentIndex(), "page");
        QTEST(int(cfg->type), "linkType");

        OpenRequests open(form.get());
        QTest::mouseClick(zoChild<QPushButton>(form.get(), "btnOpenCom"), Qt::LeftButton);
        QCOMPARE(open.seen, QStringList {request});
        // Requesting is not opening: the button waits for the link's answer.
        QCOMPARE(zoChild<QPushButton>(form.get(), "btnOpenCom")->text(), QStringLiteral("ON"));
        QVERIFY(!form->isOpen());
    }

    void openStateFollowsTheLink_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("buttonText");
        QTest::addColumn<bool>("open");
        QTest::newRow("udp opened") << 0 << true << 1 << QStringLiteral("OFF") << true;
        QTest::newRow("serial opened") << 1 << true << 0 << QStringLiteral("OFF") << true;
        QTest::newRow("tcp client failed") << 2 << false << 2 << QStringLiteral("ON") << false;
        // Page 1 is where the form starts (UDP in the configuration).
        QTest::newRow("unknown type ignored") << 3 << true << 1 << QStringLiteral("ON") << false;
    }
    void openStateFollowsTheLink()
    {
        QFETCH(int, type);
        QFETCH(bool, ok);
        QFETCH(bool, open);
        auto form = makeForm();
        form->onOpenCommState(type, ok);

        QTEST(zoChild<QStackedWidget>(form.get(), "swConnect")->currentIndex(), "page");
        QTEST(zoChild<QPushButton>(form.get(), "btnOpenCom")->text(), "buttonText");
        QCOMPARE(form->isOpen(), open);
        if (type <= 2)
            QCOMPARE(int(ZoTvkInstance::instance()->planeConfig()->type), type);
        for (QWidget *w : inputs(form.get()))
            QVERIFY2(w->isEnabled() == !open, qPrintable(w->objectName()));
    }

    void openButtonClosesAnOpenLink()
    {
        auto form = makeForm();
        form->onOpenCommState(ZoPlaneConfig::LinkUdp, true);
        QSignalSpy close(form.get(), &ZoDataLinkSettingForm::sigCloseCom);
        OpenRequests open(form.get());
        form->openLink(); // asked to open what is open: nothing happens
        QVERIFY(open.seen.isEmpty());
        // Disabled inputs do not stop the button itself.
        QTest::mouseClick(zoChild<QPushButton>(form.get(), "btnOpenCom"), Qt::LeftButton);
        QCOMPARE(close.count(), 1);
        QVERIFY(open.seen.isEmpty());
        QCOMPARE(zoChild<QPushButton>(form.get(), "btnOpenCom")->text(), QStringLiteral("ON"));
        QVERIFY(!form->isOpen());
        for (QWidget *w : inputs(form.get()))
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));

        // A close report puts the form back to Closed whatever it says.
        form->onOpenCommState(ZoPlaneConfig::LinkUdp, true);
        form->onCloseCommState(false);
        QVERIFY(!form->isOpen());
        QCOMPARE(zoChild<QPushButton>(form.get(), "btnOpenCom")->text(), QStringLiteral("ON"));
        form->openLink();
        QCOMPARE(open.seen.size(), 1);
    }

    void unknownLinkTypeOpensNothing()
    {
        // No sysconfig.xml: the form keeps what is in memory.
        ZoTvkInstance::instance()->planeConfig()->type = 7;
        auto form = makeForm();
        for (const char *name : {"rbSerialPort", "rbUDP", "rbTCPClient"})
            QVERIFY(!zoChild<QRadioButton>(form.get(), name)->isChecked());
        OpenRequests open(form.get());
        QTest::mouseClick(zoChild<QPushButton>(form.get(), "btnOpenCom"), Qt::LeftButton);
        QVERIFY(open.seen.isEmpty());
    }

    void busyPortsAreNotOffered()
    {
        auto form = makeForm();
        QList<ZoDataLinkSettingForm::PortEntry> system = {{QStringLiteral("ttyS0"), false},
            {QStringLiteral("ttyUSB0"), true}, {QStringLiteral("ttyUSB1"), false}};
        form->setPortLister([&system] { return system; });
        QComboBox *ports = zoChild<QComboBox>(form.get(), "cmbSerialPort");
        QCOMPARE(ports->count(), 2);
        QCOMPARE(ports->itemText(0), QStringLiteral("ttyS0"));
        QCOMPARE(ports->itemText(1), QStringLiteral("ttyUSB1"));

        // The refresh button asks the system again and replaces the list.
        system = {{QStringLiteral("ttyUSB0"), false}, {QStringLiteral("ttyS0"), true}};
        QTest::mouseClick(zoChild<QPushButton>(form.get(), "btnSearchSerial"), Qt::LeftButton);
        QCOMPARE(form->portNames(), QStringList {QStringLiteral("ttyUSB0")});
        QCOMPARE(ports->count(), 1);
        QCOMPARE(ports->itemText(0), QStringLiteral("ttyUSB0"));
        form->setPortLister(nullptr);
    }

    // Two identical adapters, their stable names too long for the field and
    // different only in the serial number near the end: each shows as itself,
    // its whole name is its tip and fits the open list, and is what is saved.
    void identicalAdaptersAreToldApart()
    {
        const QString name
            = QStringLiteral("/dev/serial/by-id/usb-Silicon_Labs_CP2102N_USB_to_"
                             "UART_Bridge_Controller_8a3c1e5f2b7de91197a4d2c%1-if00-port0");
        const QStringList names {name.arg(3), name.arg(4)};
        const QList<ZoDataLinkSettingForm::PortEntry> adapters {
            {names[0], false}, {names[1], false}};
        auto form = makeForm();
        form->setPortLister([=] { return adapters; });
        auto *ports = zoChild<ZoPortComboBox>(form.get(), "cmbSerialPort");
        QVERIFY(ports->fontMetrics().horizontalAdvance(names[0]) > ports->width());
        QStringList shown;
        for (int i : {0, 1}) {
            ports->setCurrentIndex(i);
            QCOMPARE(ports->itemData(i, Qt::ToolTipRole).toString(), names[i]);
            shown << ports->shownText();
            QVERIFY(ports->fontMetrics().horizontalAdvance(shown[i]) < ports->width());
            QVERIFY(form->applySettings() && ZoTvkInstance::instance()->loadSysConfig());
            QCOMPARE(ZoTvkInstance::instance()->planeConfig()->com, names[i]);
        }
        QVERIFY(shown[0] != shown[1]);
        ports->showPopup();
        QVERIFY(ports->view()->width() > ports->view()->fontMetrics().horizontalAdvance(names[0]));
    }

    void foundConnectionIsShownNotStored()
    {
        auto form = makeForm();
        form->setPortLister([] {
            return QList<ZoDataLinkSettingForm::PortEntry> {
                {QStringLiteral("ttyS0"), false}, {QStringLiteral("ttyUSB1"), false}};
        });
        const ZoPlaneConfig before = *ZoTvkInstance::instance()->planeConfig();
        QComboBox *ports = zoChild<QComboBox>(form.get(), "cmbSerialPort");
        auto *pages = zoChild<QStackedWidget>(form.get(), "swConnect");
        const auto texts = [&](std::initializer_list<const char *> names) {
            QStringList out;
            for (const char *name : names)
                out << zoChild<QLineEdit>(form.get(), name)->text();
            return out;
        };

        // Found links as zoLinkFields writes them: type|com|...|host|...|TcpServerHost|...
        form->onSynFoundConnection(zoLinkFromFields(QStringLiteral("1|ttyUSB1")));
        QVERIFY(zoChild<QRadioButton>(form.get(), "rbSerialPort")->isChecked());
        QCOMPARE(ports->currentText(), QStringLiteral("ttyUSB1"));
        QCOMPARE(pages->currentIndex(), 1);

        // A prefix is not the port.
        form->onSynFoundConnection(zoLinkFromFields(QStringLiteral("1|ttyUSB")));
        QCOMPARE(ports->currentText(), QStringLiteral("ttyUSB1"));

        form->onSynFoundConnection(
            zoLinkFromFields(QStringLiteral("2|||||||||127.0.0.2|9001|9002")));
        QVERIFY(zoChild<QRadioButton>(form.get(), "rbTCPClient")->isChecked());
        QCOMPARE(texts({"leTcpRemoteIp", "leTcpRemotePort", "leTcpLocalPort"}),
            QStringList({"127.0.0.2", "9001", "9002"}));

        form->onSynFoundConnection(zoLinkFromFields(QStringLiteral("0||||||127.0.0.3|9003|9004")));
        QVERIFY(zoChild<QRadioButton>(form.get(), "rbUDP")->isChecked());
        QCOMPARE(texts({"leHostAddress", "leRemotePort", "leLocalPort"}),
            QStringList({"127.0.0.3", "9003", "9004"}));

        QVERIFY(*ZoTvkInstance::instance()->planeConfig() == before);
    }

private:
    std::unique_ptr<ZoDataLinkSettingForm> makeForm()
    {
        auto form = std::make_unique<ZoDataLinkSettingForm>();
        form->setPortLister([] { return QList<ZoDataLinkSettingForm::PortEntry>(); });
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            qWarning("form not exposed");
        return form;
    }

    QList<QWidget *> inputs(ZoDataLinkSettingForm *form)
    {
        QList<QWidget *> result;
        for (const char *name : {"btnSearchSerial", "cmbSerialPort", "rbSerialPort", "rbUDP",
                 "rbTCPClient", "leHostAddress", "leRemotePort", "leLocalPort", "leTcpRemoteIp",
                 "leTcpRemotePort", "leTcpLocalPort"})
            result.append(zoChild<QWidget>(form, name));
        return result;
    }

    QTemporaryDir m_dir;
};

QTEST_MAIN(TstZoDataLinkSettingForm)
#include "tst_zodatalinksettingform.moc"
