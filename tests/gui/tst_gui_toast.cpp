#include "testenv.h"

#include "gui/widgets/toast.h"

#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QTimer>

using TestEnv::row;

class TestToast : public QObject
{
    Q_OBJECT

private slots:
    // A toast sits at the bottom centre, 32 px above the edge, coloured by its kind. A short text is
    // one line at its own size; a long one wraps at the widest a toast gets and grows until every line
    // shows. After its time it fades out over 300 ms and goes; an error stays at least 8 s however
    // short the time asked, and a click dismisses it.
    void showsFitsAndGoes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("kind"); // the style hook the theme colours it by
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines"); // at least
        const QString once = "Addon installed / updated";
        row("info", 0, QString("info"), once, 1);
        row("success", 1, QString("success"), once, 1);
        // Pages pass a plain int: anything unknown is shown as Info.
        row("5", 5, QString("info"), once, 1);
        row("-1", -1, QString("info"), once, 1);
        row("two-line info", 0, QString("info"),
            QString(
                "Full Control applied to Claude Code, Claude Desktop, Cursor, Windsurf, Cline, Codex, VS Code and Zed"),
            2);
        row("three-line error", 2, QString("error"),
            QString("Configuration of Cursor failed: /home/user/.cursor/mcp.json was left unchanged because its "
                    "content is not a JSON object (a comma after the last item, which JSON does not allow, at line "
                    "12, column 5)"),
            3);
    }
    void showsFitsAndGoes()
    {
        QFETCH(int, type);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(int, lines);
        QWidget parent;
        parent.resize(900, 600);
        parent.show();
        QElapsedTimer clock;
        clock.start();
        QPointer<Toast> toast = Toast::show(&parent, text, Toast::Type(type), 200);
        QVERIFY(toast->isVisible() && toast->text() == text);
        QCOMPARE(toast->property("kind").toString(), kind);
        QCOMPARE(toast->pos(), QPoint((900 - toast->width()) / 2, 600 - toast->height() - 32));
        QCOMPARE(toast->wordWrap(), lines > 1);
        if (lines == 1)
            QCOMPARE(toast->size(), toast->sizeHint());
        else
            QCOMPARE(toast->width(), int(Toast::MaxWidth));
        const QRect room = toast->contentsRect();
        const QRect needed =
            toast->fontMetrics().boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap, text);
        QVERIFY2(needed.height() <= room.height() && needed.height() > (lines - 1) * toast->fontMetrics().lineSpacing(),
                 qPrintable(QString("%1 needed, %2 there").arg(needed.height()).arg(room.height())));
        auto *timer = toast->findChild<QTimer *>("toastTimer");
        QVERIFY(timer && timer->isActive());
        QCOMPARE(timer->interval(), type == Toast::Error ? int(Toast::MinErrorMs) : 200);
        if (type == Toast::Error) {
            QTest::mouseClick(toast, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(toast.isNull(), 2000);
            return;
        }
        auto *effect = qobject_cast<QGraphicsOpacityEffect *>(toast->graphicsEffect());
        QVERIFY(effect && effect->opacity() == 1.0);
        QList<qreal> faded;
        connect(effect, &QGraphicsOpacityEffect::opacityChanged, this, [&faded](qreal opacity) { faded << opacity; });
        QTRY_VERIFY_WITH_TIMEOUT(toast.isNull(), 5000);
        QVERIFY2(faded.size() > 1 && faded.last() == 0.0, qPrintable(QString::number(faded.size())));
        // Coarse timers may fire up to 5% early; the fade itself cannot be shorter than 300 ms.
        QVERIFY2(clock.elapsed() >= 190 + 300, qPrintable(QString::number(clock.elapsed())));
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
        row("tall window", 400, int(Toast::MaxShown));
        row("low window", 60, 1);
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
