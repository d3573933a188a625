#include "gui/widgets/focuskeeper.h"
#include "testenv.h"

#include <QtTest>
#include <QtWidgets>

class TestFocusKeeper : public QObject
{
    Q_OBJECT

    // A rebuild as the pages do it: hide the old content, add new, one button per key ("card/action").
    static QWidget *build(QWidget *page, QWidget *old, const QStringList &keys)
    {
        const FocusKeeper focus(page);
        if (old)
            old->hide(), old->deleteLater();
        auto *content = new QWidget(page);
        page->layout()->addWidget(content);
        auto *column = new QVBoxLayout(content);
        for (const QString &key : keys) {
            auto *button = new QPushButton(key, content);
            FocusKeeper::setKey(button, key, key.section('/', 0, 0));
            column->addWidget(button);
        }
        focus.restore();
        return content;
    }

private slots:
    // After a rebuild the focus is on the same control, else on one of the same card, else at the
    // same place in the Tab order; focus outside the page stays where it is.
    void restore_data()
    {
        QTest::addColumn<QString>("focused"); // "" : the button outside the page
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("expected");
        const QStringList all{"cursor/Configure", "cursor/Remove", "codex/Configure", "codex/Remove"};
        QTest::newRow("same control") << "codex/Remove" << all << "codex/Remove";
        QTest::newRow("same card") << "codex/Remove" << QStringList{"cursor/Configure", "codex/Configure"}
                                   << "codex/Configure";
        QTest::newRow("card gone: nearest") << "cursor/Remove" << all.mid(2) << "codex/Remove";
        QTest::newRow("focus outside") << "" << all << "";
    }
    void restore()
    {
        QFETCH(QString, focused);
        QFETCH(QStringList, after);
        QFETCH(QString, expected);
        QWidget window;
        auto *layout = new QHBoxLayout(&window);
        layout->addWidget(new QPushButton(QStringLiteral("Projects")));
        auto *page = new QWidget;
        new QVBoxLayout(page);
        layout->addWidget(page);
        QWidget *content =
            build(page, nullptr, {"cursor/Configure", "cursor/Remove", "codex/Configure", "codex/Remove"});
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (QPushButton *button : window.findChildren<QPushButton *>()) {
            if (button->text() == (focused.isEmpty() ? QStringLiteral("Projects") : focused))
                button->setFocus();
        }
        content = build(page, content, after);
        QTRY_COMPARE(FocusKeeper::keyOf(QApplication::focusWidget()), expected.isEmpty() ? "Projects" : expected);
        QCOMPARE(content->isAncestorOf(QApplication::focusWidget()), !expected.isEmpty());
    }
};

TAVRIN_TEST_MAIN(TestFocusKeeper)
#include "tst_gui_focuskeeper.moc"
