#include "ZoMessageBox.h"
#include "ZoTitleBar.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QTranslator>
#include <QtTest>

using Button = QMessageBox::StandardButton;
using Buttons = QMessageBox::StandardButtons;
Q_DECLARE_METATYPE(QMessageBox::StandardButtons)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {
// Stands in for a second language: every caption key of the box gets a
// recognisable German text.
class GermanCaptions : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        static const QHash<QByteArray, QString> german {{"BtnYes", QStringLiteral("Ja")},
            {"BtnNo", QStringLiteral("Nein")}, {"BtnOk", QStringLiteral("Gut")},
            {"BtnCancel", QStringLiteral("Abbrechen")}};
        return qstrcmp(context, "ZoMessageBox") == 0 ? german.value(sourceText) : QString();
    }
};

// As some Linux desktops' styles do: the stock icons on dialog buttons.
class IconsOnDialogButtons : public QProxyStyle
{
public:
    IconsOnDialogButtons()
        : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
    {
    }
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
        QStyleHintReturn *returnData) const override
    {
        return hint == SH_DialogButtonBox_ButtonsHaveIcons
            ? 1
            : QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

enum class Operation { Information, Question, Warning };

Button callOperation(Operation operation, Buttons buttons, Button defaultButton)
{
    switch (operation) {
    case Operation::Information:
        return ZoMessageBox::information(
            nullptr, QStringLiteral("Title"), QStringLiteral("Text"), buttons);
    case Operation::Question:
        return ZoMessageBox::question(nullptr, QStringLiteral("Title"), QStringLiteral("Text"),
            defaultButton, QStringLiteral("Go on"), QStringLiteral("Stop"));
    case Operation::Warning:
        return ZoMessageBox::warning(
            nullptr, QStringLiteral("Title"), QStringLiteral("Text"), buttons, defaultButton);
    }
    return QMessageBox::NoButton;
}
}
Q_DECLARE_METATYPE(Operation)

class TstZoMessageBox : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        ZoMessageBox::setTestResponder({});
        ZoMessageBox::clearShownRequests();
    }

    void defaultAndFocus_data()
    {
        QTest::addColumn<Buttons>("buttons");
        QTest::addColumn<Button>("requested");
        QTest::addColumn<Button>("expected");

        QTest::newRow("the requested default") << Buttons(QMessageBox::Yes | QMessageBox::Cancel)
                                               << QMessageBox::Cancel << QMessageBox::Cancel;
        QTest::newRow("default not among the buttons")
            << Buttons(QMessageBox::Ok) << QMessageBox::No << QMessageBox::NoButton;
        QTest::newRow("no default") << Buttons(QMessageBox::Yes | QMessageBox::Cancel)
                                    << QMessageBox::NoButton << QMessageBox::NoButton;
    }
    void defaultAndFocus()
    {
        QFETCH(Buttons, buttons);
        QFETCH(Button, requested);
        QFETCH(Button, expected);

        ZoMessageBox box(
            nullptr, QStringLiteral("Title"), QStringLiteral("Text"), buttons, requested);
        box.show();
        QVERIFY(QTest::qWaitForWindowActive(&box));

        const auto pushButtons = box.findChildren<QPushButton *>();
        for (QPushButton *b : pushButtons) {
            const bool isExpected = expected != QMessageBox::NoButton && b == box.button(expected);
            QVERIFY2(b->isDefault() == isExpected, qPrintable(b->text()));
            QVERIFY2(b->hasFocus() == isExpected, qPrintable(b->text()));
        }

        // Enter presses the default button and nothing else.
        QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : &box;
        QTest::keyClick(target, Qt::Key_Return);
        QCOMPARE(box.standardClickedButton(), expected);
        QCOMPARE(box.isVisible(), expected == QMessageBox::NoButton);
    }

    void modalRun_data()
    {
        QTest::addColumn<QString>("click");
        QTest::addColumn<Button>("expected");

        QTest::newRow("No") << "No" << QMessageBox::No;
        QTest::newRow("title bar close is no answer") << "close" << QMessageBox::NoButton;
        QTest::newRow("Escape is no answer") << "escape" << QMessageBox::NoButton;
    }
    // The real modal run, answered by clicking the box from a timer.
    void modalRun()
    {
        QFETCH(QString, click);

        bool clicked = false;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<ZoMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            QVERIFY(box->windowModality() != Qt::NonModal);
            QCOMPARE(box->titleBar()->findChild<QLabel *>(QStringLiteral("titleLabel"))->text(),
                QStringLiteral("Proceed?"));
            clicked = true;
            if (click == QLatin1String("close"))
                QTest::mouseClick(box->titleBar()->closeButton(), Qt::LeftButton);
            else if (click == QLatin1String("escape"))
                QTest::keyClick(box, Qt::Key_Escape);
            else
                QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
        });
        const Button answer
            = ZoMessageBox::question(nullptr, QStringLiteral("Proceed?"), QStringLiteral("Text"));
        QVERIFY(clicked);
        QTEST(answer, "expected");
    }

    void responderAnswers_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<Buttons>("buttons");
        QTest::addColumn<Button>("defaultButton");
        QTest::addColumn<int>("answer");
        QTest::addColumn<Button>("expected");
        QTest::addColumn<Button>("recordedDefault");
        QTest::addColumn<int>("icon");

        auto row
            = [](const char *name, Operation operation, Buttons buttons, Button defaultButton,
                  Button answer, Button expected, Button recordedDefault, QMessageBox::Icon icon) {
                  QTest::newRow(name) << operation << buttons << defaultButton << int(answer)
                                      << expected << recordedDefault << int(icon);
              };
        using M = QMessageBox;
        row("information Ok", Operation::Information, M::Ok, M::NoButton, M::Ok, M::Ok, M::Ok,
            M::Information);
        row("question Yes", Operation::Question, {}, M::No, M::Yes, M::Yes, M::No, M::Question);
        row("question closed", Operation::Question, {}, M::No, M::NoButton, M::NoButton, M::No,
            M::Question);
        row("warning Yes/Cancel", Operation::Warning, M::Yes | M::Cancel, M::Cancel, M::Cancel,
            M::Cancel, M::Cancel, M::Warning);
        row("an answer the box does not offer is a refusal", Operation::Warning, M::Ok, M::No,
            M::Yes, M::NoButton, M::NoButton, M::Warning);
    }
    void responderAnswers()
    {
        QFETCH(Operation, operation);
        QFETCH(Buttons, buttons);
        QFETCH(Button, defaultButton);
        QFETCH(int, answer);
        QFETCH(int, icon);

        int calls = 0;
        ZoMessageBox::setTestResponder([&](const ZoMessageBox::Request &) {
            ++calls;
            return answer;
        });
        if (answer == int(QMessageBox::Yes) && operation == Operation::Warning)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not a button")));
        QTEST(callOperation(operation, buttons, defaultButton), "expected");
        QCOMPARE(calls, 1);

        const QList<ZoMessageBox::Request> shown = ZoMessageBox::shownRequests();
        QCOMPARE(shown.size(), 1);
        const ZoMessageBox::Request &r = shown.first();
        QCOMPARE(r.title, QStringLiteral("Title"));
        QCOMPARE(r.text, QStringLiteral("Text"));
        QTEST(r.defaultButton, "recordedDefault");
        QCOMPARE(int(r.icon), icon);
        if (operation == Operation::Question) {
            QCOMPARE(r.buttons, Buttons(QMessageBox::Yes | QMessageBox::No));
            QCOMPARE(r.captions.value(QMessageBox::Yes), QStringLiteral("Go on"));
            QCOMPARE(r.captions.value(QMessageBox::No), QStringLiteral("Stop"));
        } else {
            QCOMPARE(r.buttons, buttons);
        }
    }

    void captionsFollowLanguage()
    {
        ZoMessageBox box(nullptr, QStringLiteral("Title"), QStringLiteral("Text"),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel,
            QMessageBox::No);
        box.show();
        QCOMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("BtnYes"));
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("BtnCancel"));

        GermanCaptions german;
        QVERIFY(QCoreApplication::installTranslator(&german));
        QTRY_COMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("Ja"));
        QCOMPARE(box.button(QMessageBox::No)->text(), QStringLiteral("Nein"));
        QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("Gut"));
        QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Abbrechen"));

        QCoreApplication::removeTranslator(&german);
        QTRY_COMPARE(box.button(QMessageBox::Yes)->text(), QStringLiteral("BtnYes"));
    }

    // Whatever the desktop's style, the buttons carry their captions only.
    void buttonsWithoutIcons_data()
    {
        QTest::addColumn<bool>("platformBox");
        QTest::newRow("the application's box") << false;
        QTest::newRow("the updater's platform box") << true;
    }
    void buttonsWithoutIcons()
    {
        QFETCH(bool, platformBox);
        const QString before = QApplication::style()->objectName();
        QApplication::setStyle(new IconsOnDialogButtons);
        QList<QIcon> icons;
        ZoMessageBox::setTestResponder([&icons](const ZoMessageBox::Request &) {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (!w->isVisible())
                    continue;
                for (auto *box : w->findChildren<QDialogButtonBox *>())
                    for (QAbstractButton *b : box->buttons())
                        icons << b->icon();
            }
            return int(QMessageBox::Cancel);
        });
        if (platformBox)
            ZoMessageBox::question(QStringLiteral("Title"), QStringLiteral("Text"));
        else
            ZoMessageBox::warning(nullptr, QStringLiteral("Title"), QStringLiteral("Text"),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
        const bool styleGivesIcons
            = !QDialogButtonBox(QDialogButtonBox::Ok).buttons().value(0)->icon().isNull();
        QApplication::setStyle(before);
        QVERIFY(styleGivesIcons);
        QCOMPARE(icons.size(), platformBox ? 2 : 4);
        for (const QIcon &icon : icons)
            QVERIFY(icon.isNull());
    }

    void longTextWraps()
    {
        ZoMessageBox box(nullptr, QStringLiteral("Question"),
            QStringLiteral("A rather long message that has to wrap onto a second line "
                           "because the box is narrow; see <a "
                           "href=\"http://127.0.0.1/\">the notes</a>."),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        box.setIconPixmap(QStringLiteral(":/toolkit/resource/msgbox/questionblue.png"));
        box.resize(360, 150);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const QLabel *text = box.findChild<QLabel *>(QStringLiteral("messageTextLabel"));
        QVERIFY(text);
        QVERIFY(text->height() > 2 * text->fontMetrics().height());
    }
};

QTEST_MAIN(TstZoMessageBox)
#include "tst_zomessagebox.moc"
