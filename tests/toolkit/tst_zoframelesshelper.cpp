#include "ZoCustomDialog.h"
#include "ZoDialogWidget.h"
#include "ZoFramelessHelper.h"
#include "ZoTitleBar.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {
// Mouse events as the window system delivers them: to the innermost widget
// under the pointer, from where they bubble up to the dialog.
void send(QWidget *window, QEvent::Type type, const QPoint &local, Qt::MouseButtons buttons)
{
    QWidget *target = window->childAt(local);
    if (!target)
        target = window;
    const QPoint pos = target->mapFrom(window, local);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, window->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// A left-button drag from `local` in the window to the global position `end`.
void drag(QWidget *window, const QPoint &local, const QPoint &end)
{
    send(window, QEvent::MouseButtonPress, local, Qt::LeftButton);
    send(window, QEvent::MouseMove, window->mapFromGlobal(end), Qt::LeftButton);
    send(window, QEvent::MouseButtonRelease, window->mapFromGlobal(end), Qt::NoButton);
}

void hover(QWidget *window, const QPoint &local)
{
    send(window, QEvent::MouseMove, local, Qt::NoButton);
}

// A dialog with a visible part of 400 × 300 at (100, 100) inside a shadow.
void place(ZoCustomDialog &dialog, int shadow)
{
    dialog.setMinimumSize(300, 200);
    dialog.setGeometry(100 - shadow, 100 - shadow, 400 + 2 * shadow, 300 + 2 * shadow);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
}
}

class TstZoFramelessHelper : public QObject
{
    Q_OBJECT

private slots:
    void edgeBand_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<bool>("resizes");

        // Offsets from the visible left edge; the band is 5 px wide each way.
        QTest::newRow("4 px outside") << -4 << true;
        QTest::newRow("5 px outside") << -5 << true;
        QTest::newRow("6 px outside") << -6 << false;
        QTest::newRow("4 px inside") << 4 << true;
        QTest::newRow("6 px inside") << 6 << false;
    }
    void edgeBand()
    {
        QFETCH(int, offset);
        QFETCH(bool, resizes);

        const int shadow = 10;
        ZoCustomDialog dialog(false, shadow);
        place(dialog, shadow);
        const QRect before = dialog.frameGeometry();

        const QPoint local(shadow + offset, shadow + 150);
        const QPoint end = dialog.mapToGlobal(local) - QPoint(30, 0);
        drag(&dialog, local, end);

        if (resizes) {
            // The visible left edge follows the pointer; the right edge stays.
            QCOMPARE(dialog.frameGeometry().left() + shadow, end.x());
            QCOMPARE(dialog.frameGeometry().right(), before.right());
            QCOMPARE(dialog.frameGeometry().height(), before.height());
        } else {
            QCOMPARE(dialog.frameGeometry(), before);
        }
    }

    void minimumSizeKeepsUndraggedEdge_data()
    {
        QTest::addColumn<QPoint>("grip");
        QTest::addColumn<QPoint>("drag");
        QTest::addColumn<QRect>("expected");

        // Visible part (100, 100, 400, 300) in a 10 px shadow: the frame is
        // (90, 90, 420, 320), minimum 300 × 200.
        QTest::newRow("left edge dragged right")
            << QPoint(10, 160) << QPoint(250, 0) << QRect(210, 90, 300, 320);
        QTest::newRow("right edge dragged left")
            << QPoint(410, 160) << QPoint(-250, 0) << QRect(90, 90, 300, 320);
        QTest::newRow("top edge dragged down")
            << QPoint(200, 10) << QPoint(0, 250) << QRect(90, 210, 420, 200);
        QTest::newRow("bottom edge dragged up")
            << QPoint(200, 310) << QPoint(0, -250) << QRect(90, 90, 420, 200);
        QTest::newRow("bottom-left corner dragged inwards")
            << QPoint(10, 310) << QPoint(250, -250) << QRect(210, 90, 300, 200);
    }
    void minimumSizeKeepsUndraggedEdge()
    {
        QFETCH(QPoint, grip);
        QFETCH(QPoint, drag);

        ZoCustomDialog dialog(false, 10);
        place(dialog, 10);
        QCOMPARE(dialog.frameGeometry(), QRect(90, 90, 420, 320));

        ::drag(&dialog, grip, dialog.mapToGlobal(grip) + drag);
        QTEST(dialog.frameGeometry(), "expected");
    }

    void edgeCursor_data()
    {
        QTest::addColumn<QPoint>("local");
        QTest::addColumn<int>("shape");

        // Shadow 10: the visible part starts at 10, 10 and is 400 × 300.
        QTest::newRow("left") << QPoint(8, 150) << int(Qt::SizeHorCursor);
        QTest::newRow("right") << QPoint(412, 150) << int(Qt::SizeHorCursor);
        QTest::newRow("bottom") << QPoint(200, 310) << int(Qt::SizeVerCursor);
        QTest::newRow("top-left") << QPoint(10, 10) << int(Qt::SizeFDiagCursor);
        QTest::newRow("bottom-left") << QPoint(10, 310) << int(Qt::SizeBDiagCursor);
        QTest::newRow("inside") << QPoint(200, 150) << int(Qt::ArrowCursor);
    }
    void edgeCursor()
    {
        QFETCH(QPoint, local);
        QFETCH(int, shape);

        ZoCustomDialog dialog(false, 10);
        place(dialog, 10);
        // Pass the edge first so that "inside" also proves the cursor is reset.
        hover(&dialog, QPoint(8, 150));
        hover(&dialog, local);
        QCOMPARE(int(dialog.cursor().shape()), shape);

        hover(&dialog, QPoint(200, 150));
        dialog.framelessHelper()->setResizable(false);
        hover(&dialog, QPoint(8, 150));
        QCOMPARE(int(dialog.cursor().shape()), int(Qt::ArrowCursor));
    }

    void dragOutOfMaximized_data()
    {
        QTest::addColumn<double>("ratio");
        QTest::addColumn<QString>("rule");

        QTest::newRow("near the left: same distance from the left") << 0.2 << "left";
        QTest::newRow("middle: same proportion") << 0.5 << "proportion";
        QTest::newRow("80 %: same distance from the right") << 0.8 << "right";
    }
    void dragOutOfMaximized()
    {
        QFETCH(double, ratio);
        QFETCH(QString, rule);

        ZoCustomDialog dialog(true, 0);
        place(dialog, 0);
        QTest::mouseClick(dialog.titleBar()->maximizeButton(), Qt::LeftButton);
        QTRY_VERIFY(dialog.isMaximized());
        // The window system reports the new geometry a little later.
        QTRY_VERIFY(dialog.frameGeometry().width() > 400);
        const QRect maximized = dialog.frameGeometry();

        const QPoint grip(int(maximized.width() * ratio), 15);
        const QPoint end = dialog.mapToGlobal(grip) + QPoint(7, 60);
        drag(&dialog, grip, end);

        QVERIFY(!dialog.isMaximized());
        const QRect restored = dialog.frameGeometry();
        QCOMPARE(restored.size(), QSize(400, 300));
        const QPoint inWindow = end - restored.topLeft();
        QCOMPARE(inWindow.y(), grip.y());
        if (rule == QLatin1String("left"))
            QCOMPARE(inWindow.x(), grip.x());
        else if (rule == QLatin1String("proportion"))
            QCOMPARE(inWindow.x(), int(400 * ratio));
        else
            QCOMPARE(restored.width() - inWindow.x(), maximized.width() - grip.x());
    }

    void maximizeButtonAndDoubleClick_data()
    {
        QTest::addColumn<bool>("allowed");
        QTest::newRow("maximize allowed") << true;
        QTest::newRow("maximize not allowed") << false;
    }
    void maximizeButtonAndDoubleClick()
    {
        QFETCH(bool, allowed);

        const int shadow = 6;
        ZoCustomDialog dialog(allowed, shadow);
        place(dialog, shadow);
        QPushButton *maximize = dialog.titleBar()->maximizeButton();

        QTest::mouseDClick(dialog.titleBar(), Qt::LeftButton, {}, QPoint(100, 10));
        if (!allowed) {
            QTest::qWait(50);
            QVERIFY(!dialog.isMaximized());
            return;
        }
        QTRY_VERIFY(dialog.isMaximized());
        // The shadow goes while maximized and comes back afterwards.
        QCOMPARE(dialog.dialogWidget()->contentsMargins(), QMargins());
        QCOMPARE(maximize->toolTip(), QStringLiteral("Restore"));

        QTest::mouseClick(maximize, Qt::LeftButton);
        QTRY_VERIFY(!dialog.isMaximized());
        QCOMPARE(
            dialog.dialogWidget()->contentsMargins(), QMargins(shadow, shadow, shadow, shadow));
        QCOMPARE(maximize->toolTip(), QStringLiteral("Maximize"));
    }

    void titleHeightZeroKeepsHeight()
    {
        ZoFramelessHelper helper;
        const int original = ZoFramelessHelper::titleHeight();
        helper.setTitleHeight(44);
        helper.setTitleHeight(0);
        QCOMPARE(ZoFramelessHelper::titleHeight(), 44);

        // The taller title area is a drag area now.
        ZoCustomDialog dialog(false, 0);
        place(dialog, 0);
        const QPoint before = dialog.pos();
        drag(&dialog, QPoint(200, 40), dialog.mapToGlobal(QPoint(220, 70)));
        helper.setTitleHeight(original);
        QCOMPARE(dialog.pos(), before + QPoint(20, 30));
    }

    void titleFollowsWindow()
    {
        ZoCustomDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Settings"));
        QCOMPARE(dialog.titleBar()->titleLabel()->text(), QStringLiteral("Settings"));

        // The close button closes the dialog as a rejection.
        dialog.show();
        QTest::mouseClick(dialog.titleBar()->closeButton(), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    void parentedDialogIsOwnWindow()
    {
        QWidget owner;
        auto *dialog = new ZoCustomDialog(false, 4, &owner);
        QVERIFY(dialog->isWindow());
        // Destroying the owner takes the dialog and its helper along cleanly.
    }
};

QTEST_MAIN(TstZoFramelessHelper)
#include "tst_zoframelesshelper.moc"
