#include "testenv.h"

#include "gui/widgets/toast.h"

#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QPropertyAnimation>
#include <QTimer>

class TestToast : public QObject
{
    Q_OBJECT

private slots:
    void showsPlacesFadesAndGoes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("kind"); // the style hook the theme colours it by
        QTest::newRow("info") << 0 << "info";
        QTest::newRow("success") << 1 << "success";
        // Pages pass a plain int: anything unknown is shown as Info.
        QTest::newRow("5") << 5 << "info";
        QTest::newRow("-1") << -1 << "info";
    }

    void showsPlacesFadesAndGoes()
    {
        QFETCH(int, type);
        QFETCH(QString, kind);
        QWidget parent;
        parent.resize(333, 240);
        parent.show();
        QElapsedTimer clock;
        clock.start();
        Toast::show(&parent, "Addon installed / updated", Toast::Type(type), 200);
        QPointer<Toast> toast = parent.findChild<Toast *>();
        QVERIFY(toast && toast->isVisible() && toast->text() == "Addon installed / updated");
        QCOMPARE(toast->property("kind").toString(), kind);
        // Bottom centre, 32 px above the edge, on one line at its own size.
        QCOMPARE(toast->size(), toast->sizeHint());
        QVERIFY(!toast->wordWrap());
        QCOMPARE(toast->pos(), QPoint((333 - toast->width()) / 2, 240 - toast->height() - 32));

        // After the display time the effect's opacity goes from 1 to 0 over 300 ms, then the toast goes.
        QPointer<QGraphicsOpacityEffect> effect = qobject_cast<QGraphicsOpacityEffect *>(toast->graphicsEffect());
        QVERIFY(effect && effect->opacity() == 1.0 && !toast->findChild<QPropertyAnimation *>());
        QTRY_VERIFY_WITH_TIMEOUT(toast && toast->findChild<QPropertyAnimation *>(), 5000);
        auto *animation = toast->findChild<QPropertyAnimation *>();
        QVERIFY(animation->targetObject() == effect && animation->propertyName() == "opacity");
        QCOMPARE(animation->duration(), 300);
        QVERIFY(animation->startValue() == 1.0 && animation->endValue() == 0.0);
        QTRY_VERIFY_WITH_TIMEOUT(toast.isNull(), 5000);
        // Coarse timers may fire up to 5% early; the fade itself cannot be shorter than 300 ms.
        QVERIFY2(clock.elapsed() >= 190 + 300, qPrintable(QString::number(clock.elapsed())));
    }

    // A long text wraps at the widest a toast gets and grows until every line shows; an error stays
    // at least 8 s however short the time asked, and a click dismisses it.
    void fitsItsText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("lines"); // at least
        QTest::newRow("three-line error")
            << "Configuration of Cursor failed: /home/user/.cursor/mcp.json was left unchanged because its content is "
               "not a JSON object (a comma after the last item, which JSON does not allow, at line 12, column 5)"
            << 2 << 3;
        QTest::newRow("two-line info") << QString("Full Control applied to Claude Code, Claude Desktop, Cursor, "
                                                  "Windsurf, Cline, Codex, VS Code and Zed")
                                       << 0 << 2;
    }
    void fitsItsText()
    {
        QFETCH(QString, text);
        QFETCH(int, type);
        QFETCH(int, lines);
        QWidget parent;
        parent.resize(900, 600);
        parent.show();
        QPointer<Toast> toast = Toast::show(&parent, text, Toast::Type(type), 3000);
        QVERIFY(toast->isVisible() && toast->wordWrap());
        QCOMPARE(toast->width(), int(Toast::MaxWidth));
        const QRect room = toast->contentsRect();
        const QRect needed =
            toast->fontMetrics().boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap, text);
        QVERIFY2(needed.height() <= room.height() && needed.height() > (lines - 1) * toast->fontMetrics().lineSpacing(),
                 qPrintable(QString("%1 needed, %2 there").arg(needed.height()).arg(room.height())));
        auto *timer = toast->findChild<QTimer *>("toastTimer");
        QVERIFY(timer && timer->isActive());
        QCOMPARE(timer->interval(), type == Toast::Error ? int(Toast::MinErrorMs) : 3000);
        QTest::mouseClick(toast, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(toast.isNull(), 2000);
    }

    // "Checking for updates..." gives way to its answer instead of lingering beneath it.
    void replacesByKey()
    {
        QWidget parent;
        parent.resize(600, 400);
        parent.show();
        QPointer<Toast> other = Toast::show(&parent, "Cursor configured", Toast::Success, 60000);
        QPointer<Toast> checking = Toast::show(&parent, "Checking for updates...", Toast::Info, 60000, "update");
        const int bottom = checking->geometry().bottom();
        Toast *answer = Toast::show(&parent, "You're up to date!", Toast::Success, 60000, "update");
        QVERIFY(checking.isNull() || !checking->isVisible());
        QVERIFY(other->isVisible() && answer->isVisible());
        QCOMPARE(answer->geometry().bottom(), bottom); // in its place, above the older toast
    }

    // Toasts asked for together stack upwards, oldest at the bottom, each for its whole time. Beyond
    // what fits (at most MaxShown), newer ones wait their turn; when one goes, the rest move down.
    void stacksAndQueues_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("room"); // how many fit at once
        QTest::newRow("tall window") << 400 << int(Toast::MaxShown);
        QTest::newRow("low window") << 60 << 1;
    }
    void stacksAndQueues()
    {
        QFETCH(int, height);
        QFETCH(int, room);
        QWidget parent;
        parent.resize(333, height);
        parent.show();
        const int count = Toast::MaxShown + 2;
        for (int i = 0; i < count; ++i)
            Toast::show(&parent, QStringLiteral("Client %1 configured").arg(i), Toast::Success, i == 0 ? 100 : 60000);
        const auto shown = [&parent] {
            QList<Toast *> toasts;
            for (Toast *toast : parent.findChildren<Toast *>()) {
                if (toast->isVisible())
                    toasts << toast;
            }
            return toasts;
        };
        const auto check = [&](int first) {
            const QList<Toast *> toasts = shown();
            QCOMPARE(toasts.size(), room);
            for (int i = 0; i < toasts.size(); ++i) {
                QCOMPARE(toasts.at(i)->text(), QStringLiteral("Client %1 configured").arg(first + i));
                const int bottom = i == 0 ? height - 32 : toasts.at(i - 1)->y() - 8;
                QCOMPARE(toasts.at(i)->geometry().bottom() + 1, bottom);
            }
        };
        check(0);
        // The first goes after its 100 ms and fade; the next takes its place, a waiting one starts.
        QTRY_COMPARE_WITH_TIMEOUT(shown().first()->text(), QStringLiteral("Client 1 configured"), 5000);
        check(1);
        QCOMPARE(parent.findChildren<Toast *>().size(), count - 1);
    }
};

TAVRIN_TEST_MAIN(TestToast)
#include "tst_gui_toast.moc"
