#include "testenv.h"

#include "gui/widgets/toast.h"

#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QPropertyAnimation>

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
        QTest::newRow("error") << 2 << "error";
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
        // Bottom centre, 32 px above the edge, at its own size.
        QCOMPARE(toast->size(), toast->sizeHint());
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
