#include "testenv.h"

#include "toast.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QPointer>
#include <QPropertyAnimation>

class TestToast : public QObject
{
    Q_OBJECT

private slots:
    void coloursByType_data();
    void coloursByType();
    void placedOnceAtBottomCentre_data();
    void placedOnceAtBottomCentre();
    void newerToastLiesOnTop();
    void fadesAfterDisplayTimeThenDeletes_data();
    void fadesAfterDisplayTimeThenDeletes();
    void goesWithItsParent();

private:
    static Toast *newestToast(QWidget *parent);
};

Toast *TestToast::newestToast(QWidget *parent)
{
    const QList<Toast *> toasts = parent->findChildren<Toast *>(Qt::FindDirectChildrenOnly);
    return toasts.isEmpty() ? nullptr : toasts.last();
}

void TestToast::coloursByType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("background");
    QTest::addColumn<QString>("text");
    QTest::newRow("info") << 0 << "rgba(22,27,34,0.95)"
                          << "#e0e4ea";
    QTest::newRow("success") << 1 << "rgba(45,190,120,0.95)"
                             << "#ffffff";
    QTest::newRow("error") << 2 << "rgba(229,83,75,0.95)"
                           << "#ffffff";
    QTest::newRow("unknown 5 is info") << 5 << "rgba(22,27,34,0.95)"
                                       << "#e0e4ea";
    QTest::newRow("negative is info") << -1 << "rgba(22,27,34,0.95)"
                                      << "#e0e4ea";
}

void TestToast::coloursByType()
{
    QFETCH(int, type);
    QFETCH(QString, background);
    QFETCH(QString, text);
    QWidget parent;
    parent.resize(600, 400);
    Toast::show(&parent, QStringLiteral("Configured!"), Toast::Type(type), 3000);
    Toast *toast = newestToast(&parent);
    QVERIFY(toast);
    QCOMPARE(toast->text(), QStringLiteral("Configured!"));
    QCOMPARE(toast->styleSheet(),
             QStringLiteral("padding: 12px 24px; border-radius: 8px; font-size: 13px; font-weight: 600;background: ") +
                 background + QStringLiteral("; color: ") + text +
                 QStringLiteral("; border: 1px solid rgba(255,255,255,0.1);"));
    QCOMPARE(toast->alignment(), Qt::AlignCenter);
    QVERIFY(toast->wordWrap());
    QVERIFY(toast->isVisibleTo(&parent));
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(toast->graphicsEffect());
    QVERIFY(effect);
    QCOMPARE(effect->opacity(), 1.0);
}

void TestToast::placedOnceAtBottomCentre_data()
{
    QTest::addColumn<QSize>("parentSize");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("wider");
    QTest::newRow("short") << QSize(801, 500) << "Removed" << false;
    QTest::newRow("odd width") << QSize(333, 240) << "Addon installed / updated" << false;
    QTest::newRow("long text in a narrow parent")
        << QSize(120, 400)
        << QString(QStringLiteral("Unbreakable")).repeated(6) + QStringLiteral(" and then some words") << true;
}

void TestToast::placedOnceAtBottomCentre()
{
    QFETCH(QSize, parentSize);
    QFETCH(QString, text);
    QFETCH(bool, wider);
    QWidget parent;
    parent.resize(parentSize);
    Toast::show(&parent, text, Toast::Info, 3000);
    Toast *toast = newestToast(&parent);
    QVERIFY(toast);
    QCOMPARE(toast->size(), toast->sizeHint());
    QCOMPARE(toast->width() > parentSize.width(), wider);
    // Integer division rounding toward zero, also when the toast is wider than its parent.
    QCOMPARE(toast->x(), (parentSize.width() - toast->width()) / 2);
    QCOMPARE(toast->y(), parentSize.height() - toast->height() - 32);

    const QPoint placed = toast->pos();
    parent.resize(parentSize * 2);
    QCoreApplication::processEvents();
    QCOMPARE(toast->pos(), placed);
}

void TestToast::newerToastLiesOnTop()
{
    QWidget parent;
    parent.resize(500, 300);
    parent.show();
    Toast::show(&parent, QStringLiteral("Configured!"), Toast::Success, 150);
    QPointer<Toast> first = newestToast(&parent);
    Toast::show(&parent, QStringLiteral("Removed"), Toast::Info, 3000);
    QPointer<Toast> second = newestToast(&parent);
    QVERIFY(first && second && first != second);
    QCOMPARE(QApplication::widgetAt(parent.mapToGlobal(second->geometry().center())), second.data());
    QCOMPARE(first->y(), second->y());

    // Each on its own schedule: the first goes, the second stays.
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 5000);
    QVERIFY(second);
    QVERIFY(!second->findChild<QPropertyAnimation *>());
}

void TestToast::fadesAfterDisplayTimeThenDeletes_data()
{
    QTest::addColumn<int>("ms");
    QTest::newRow("200 ms") << 200;
    QTest::newRow("0 ms") << 0;
}

void TestToast::fadesAfterDisplayTimeThenDeletes()
{
    QFETCH(int, ms);
    QWidget parent;
    parent.resize(400, 300);
    parent.show();
    QElapsedTimer clock;
    clock.start();
    Toast::show(&parent, QStringLiteral("Removed"), Toast::Info, ms);
    QPointer<Toast> toast = newestToast(&parent);
    QVERIFY(toast);
    QPointer<QGraphicsOpacityEffect> effect = qobject_cast<QGraphicsOpacityEffect *>(toast->graphicsEffect());
    QVERIFY(effect);
    QVERIFY(!toast->findChild<QPropertyAnimation *>());

    // The fade animates the effect's opacity from 1 to 0 over 300 ms.
    QTRY_VERIFY_WITH_TIMEOUT(toast && toast->findChild<QPropertyAnimation *>(), 5000);
    auto *animation = toast->findChild<QPropertyAnimation *>();
    QCOMPARE(animation->targetObject(), effect.data());
    QCOMPARE(animation->propertyName(), QByteArray("opacity"));
    QCOMPARE(animation->duration(), 300);
    QCOMPARE(animation->startValue().toDouble(), 1.0);
    QCOMPARE(animation->endValue().toDouble(), 0.0);
    QCOMPARE(animation->easingCurve().type(), QEasingCurve::Linear);
    QTRY_VERIFY_WITH_TIMEOUT(!toast || (effect && effect->opacity() < 1.0 && effect->opacity() > 0.0), 5000);

    QTRY_VERIFY_WITH_TIMEOUT(toast.isNull(), 5000);
    // Coarse timers may fire up to 5% early; the fade itself cannot be shorter than 300 ms.
    QVERIFY2(clock.elapsed() >= ms * 95 / 100 + 300, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(effect.isNull());
}

void TestToast::goesWithItsParent()
{
    auto *parent = new QWidget;
    parent->resize(400, 300);
    Toast::show(parent, QStringLiteral("Configured!"), Toast::Success, 0);
    QPointer<Toast> toast = newestToast(parent);
    QVERIFY(toast);
    delete parent;
    QVERIFY(toast.isNull());
    // Its timer went with it: running the event loop past the display time touches nothing.
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > 400, 2000);
}

TAVRIN_TEST_MAIN(TestToast)
#include "tst_gui_toast.moc"
