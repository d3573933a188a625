#include "testenv.h"

#include "toast.h"

#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QPropertyAnimation>

class TestToast : public QObject
{
    Q_OBJECT

private slots:
    void colourAndPlacement_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("colours");
        const QString info = QStringLiteral("background: rgba(22,27,34,0.95); color: #e0e4ea;");
        QTest::newRow("info") << 0 << info;
        QTest::newRow("success") << 1 << "background: rgba(45,190,120,0.95); color: #ffffff;";
        QTest::newRow("error") << 2 << "background: rgba(229,83,75,0.95); color: #ffffff;";
        // Pages pass a plain int: anything unknown is shown as Info.
        QTest::newRow("5") << 5 << info;
        QTest::newRow("-1") << -1 << info;
    }

    void colourAndPlacement()
    {
        QFETCH(int, type);
        QFETCH(QString, colours);
        QWidget parent;
        parent.resize(333, 240);
        Toast::show(&parent, QStringLiteral("Addon installed / updated"), Toast::Type(type), 3000);
        Toast *toast = parent.findChild<Toast *>();
        QVERIFY(toast && toast->isVisibleTo(&parent));
        QCOMPARE(toast->text(), QStringLiteral("Addon installed / updated"));
        QVERIFY2(toast->styleSheet().contains(colours), qPrintable(toast->styleSheet()));
        // Bottom centre, 32 px above the edge, at its own size; placed once, not moved by a resize.
        QCOMPARE(toast->size(), toast->sizeHint());
        const QPoint placed((333 - toast->width()) / 2, 240 - toast->height() - 32);
        QCOMPARE(toast->pos(), placed);
        parent.resize(666, 480);
        QCoreApplication::processEvents();
        QCOMPARE(toast->pos(), placed);
    }

    void fadesAfterDisplayTimeThenDeletes()
    {
        QWidget parent;
        parent.resize(400, 300);
        parent.show();
        QElapsedTimer clock;
        clock.start();
        Toast::show(&parent, QStringLiteral("Removed"), Toast::Info, 200);
        QPointer<Toast> toast = parent.findChild<Toast *>();
        QVERIFY(toast);
        QPointer<QGraphicsOpacityEffect> effect = qobject_cast<QGraphicsOpacityEffect *>(toast->graphicsEffect());
        QVERIFY(effect && effect->opacity() == 1.0 && !toast->findChild<QPropertyAnimation *>());

        // After the display time the effect's opacity goes from 1 to 0 over 300 ms, then the toast goes.
        QTRY_VERIFY_WITH_TIMEOUT(toast && toast->findChild<QPropertyAnimation *>(), 5000);
        auto *animation = toast->findChild<QPropertyAnimation *>();
        QCOMPARE(animation->targetObject(), effect.data());
        QCOMPARE(animation->propertyName(), QByteArray("opacity"));
        QCOMPARE(animation->duration(), 300);
        QCOMPARE(animation->startValue().toDouble(), 1.0);
        QCOMPARE(animation->endValue().toDouble(), 0.0);
        QTRY_VERIFY_WITH_TIMEOUT(toast.isNull(), 5000);
        // Coarse timers may fire up to 5% early; the fade itself cannot be shorter than 300 ms.
        QVERIFY2(clock.elapsed() >= 190 + 300, qPrintable(QString::number(clock.elapsed())));
    }

    void goesWithItsParent()
    {
        auto *parent = new QWidget;
        Toast::show(parent, QStringLiteral("Configured!"), Toast::Success, 0);
        QPointer<Toast> toast = parent->findChild<Toast *>();
        QVERIFY(toast);
        delete parent;
        QVERIFY(toast.isNull());
        // Its timer went with it: running the event loop past the display time touches nothing.
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > 400, 2000);
    }
};

TAVRIN_TEST_MAIN(TestToast)
#include "tst_gui_toast.moc"
