#include "focuskeeper.h"
#include "testenv.h"

#include <QtTest>
#include <QtWidgets>

// A page as the pages build themselves: a sidebar button outside it, and content that a rebuild
// hides and replaces, here one card per name with a "Configure" and a "Remove" button.
class Page : public QWidget
{
public:
    explicit Page(QWidget *parent) : QWidget(parent) { new QVBoxLayout(this); }

    void build(const QStringList &cards, bool removeButtons = true)
    {
        const FocusKeeper focus(this);
        if (m_content) {
            m_content->hide();
            m_content->deleteLater();
        }
        m_content = new QWidget(this);
        layout()->addWidget(m_content);
        auto *column = new QVBoxLayout(m_content);
        for (const QString &card : cards) {
            for (const char *action : {"Configure", "Remove"}) {
                if (!removeButtons && QLatin1String(action) == QLatin1String("Remove"))
                    continue;
                auto *button = new QPushButton(QLatin1String(action), m_content);
                FocusKeeper::setKey(button, card + '/' + action, card);
                column->addWidget(button);
            }
        }
        focus.restore();
    }
    QPushButton *button(const QString &key) const
    {
        for (QPushButton *b : m_content->findChildren<QPushButton *>()) {
            if (FocusKeeper::keyOf(b) == key)
                return b;
        }
        return nullptr;
    }

private:
    QPointer<QWidget> m_content;
};

class TestFocusKeeper : public QObject
{
    Q_OBJECT

private slots:
    // After a rebuild the focus is on the same control, else on one of the same card, else at the
    // same place in the Tab order; focus outside the page stays where it is.
    void restore_data()
    {
        QTest::addColumn<QString>("focused"); // key, or "outside"
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<bool>("removeButtons");
        QTest::addColumn<QString>("expected"); // key, or "outside"
        const QStringList cards{"cursor", "codex", "cline"};
        QTest::newRow("same control") << "codex/Remove" << cards << true << "codex/Remove";
        QTest::newRow("same card") << "codex/Remove" << cards << false << "codex/Configure";
        QTest::newRow("card gone: next one")
            << "codex/Configure" << QStringList{"cursor", "cline"} << true << "cline/Configure";
        QTest::newRow("last card gone: last control")
            << "cline/Remove" << QStringList{"cursor", "codex"} << true << "codex/Remove";
        QTest::newRow("focus outside") << "outside" << cards << true << "outside";
    }
    void restore()
    {
        QFETCH(QString, focused);
        QFETCH(QStringList, after);
        QFETCH(bool, removeButtons);
        QFETCH(QString, expected);
        QWidget window;
        auto *layout = new QHBoxLayout(&window);
        auto *outside = new QPushButton(QStringLiteral("Projects"));
        layout->addWidget(outside);
        auto *page = new Page(&window);
        layout->addWidget(page);
        page->build({"cursor", "codex", "cline"});
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QWidget *start = focused == "outside" ? outside : page->button(focused);
        start->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), start);

        page->build(after, removeButtons);
        QWidget *target = expected == "outside" ? outside : page->button(expected);
        QVERIFY(target);
        QTRY_COMPARE(QApplication::focusWidget(), target);
    }
};

TAVRIN_TEST_MAIN(TestFocusKeeper)
#include "tst_gui_focuskeeper.moc"
