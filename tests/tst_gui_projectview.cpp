#include "projectview.h"
#include "settings.h"
#include "testenv.h"

#include <QApplication>
#include <QFileDialog>
#include <QFrame>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTimer>

#include <memory>

namespace {

// A Godot project folder; with a non-null plugin.cfg the addon is installed in it.
QString makeProject(const QString &name, const QByteArray &addonCfg = {})
{
    const QString dir = TestEnv::home() + QLatin1String("/projects/") + name;
    TestEnv::writeFile(dir + QLatin1String("/project.godot"), "config_version=5\n");
    if (!addonCfg.isNull())
        TestEnv::writeFile(dir + QLatin1String("/addons/tavrin_mcp/plugin.cfg"), addonCfg);
    return dir;
}

// What the recent list shows right now, in order: a rebuild drops the old widgets from the list
// layout at once, while their deletion waits for the event loop.
QList<QWidget *> listed(ProjectView *view)
{
    QList<QWidget *> result;
    QLayout *layout = view->findChild<QScrollArea *>()->widget()->layout();
    for (int i = 0; i < layout->count(); ++i) {
        if (QWidget *widget = layout->itemAt(i)->widget())
            result.append(widget);
    }
    return result;
}

QStringList cardPaths(ProjectView *view)
{
    QStringList paths;
    for (QWidget *widget : listed(view)) {
        if (widget->property("class").toString() == QLatin1String("project-card"))
            paths.append(widget->property("projectPath").toString());
    }
    return paths;
}

template<typename T = QPushButton> T *child(QWidget *parent, const QString &textOrClass)
{
    for (T *widget : parent->findChildren<T *>()) {
        if (widget->text() == textOrClass || widget->property("class").toString() == textOrClass)
            return widget;
    }
    return nullptr;
}

QStringList storedPaths(const Settings &settings)
{
    QStringList paths;
    for (const QJsonValue &entry : settings.recentProjects())
        paths.append(entry.toObject().value(QLatin1String("path")).toString());
    return paths;
}

} // namespace

class TestProjectView : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QFile::remove(Settings::filePath());
        m_settings = std::make_unique<Settings>();
    }
    void cleanup()
    {
        m_view.reset();
        m_settings.reset();
    }

    void badges_data()
    {
        QTest::addColumn<QByteArray>("cfg");
        QTest::addColumn<QString>("badge");
        QTest::newRow("no addon") << QByteArray() << QString();
        QTest::newRow("addon with version") << QByteArray("[plugin]\nversion=\"0.9.0\"\n") << "Addon v0.9.0";
        QTest::newRow("addon without version") << QByteArray("[plugin]\nname=\"x\"\n") << "Addon v";
    }
    void badges()
    {
        QFETCH(QByteArray, cfg);
        QFETCH(QString, badge);
        const QString first = makeProject(QStringLiteral("first"), cfg);
        const QString gone = TestEnv::home() + QLatin1String("/projects/gone"); // listed, no longer on disk
        m_settings->addRecentProject(gone, QStringLiteral("gone"));
        m_settings->addRecentProject(first, QStringLiteral("first"));
        m_view = std::make_unique<ProjectView>(m_settings.get());

        QCOMPARE(cardPaths(m_view.get()), QStringList({first, gone}));
        auto *card = qobject_cast<QFrame *>(listed(m_view.get()).first());
        QLabel *shown = child<QLabel>(card, QStringLiteral("badge-ok"));
        QCOMPARE(shown ? shown->text() : QString(), badge);
        QVERIFY(!child<QLabel>(listed(m_view.get()).at(1), QStringLiteral("badge-ok")));
        // Left to right: icon, name and path, (badge), remove, open.
        QLayout *row = card->layout();
        QCOMPARE(row->count(), badge.isNull() ? 4 : 5);
        QCOMPARE(row->itemAt(row->count() - 1)->widget(), child(card, QStringLiteral("Open")));
        QCOMPARE(row->itemAt(row->count() - 2)->widget()->accessibleName(),
                 QStringLiteral("Remove from recent projects"));
    }

    void removeUntilEmpty()
    {
        const QString a = makeProject(QStringLiteral("a"));
        const QString b = makeProject(QStringLiteral("b"));
        m_settings->addRecentProject(a, QStringLiteral("a"));
        m_settings->addRecentProject(b, QStringLiteral("b"));
        m_settings->setActiveProject(a);
        m_view = std::make_unique<ProjectView>(m_settings.get());
        QSignalSpy selected(m_view.get(), &ProjectView::projectSelected);

        QTest::mouseClick(child(listed(m_view.get()).at(1), QStringLiteral("icon-button")), Qt::LeftButton);
        QCOMPARE(storedPaths(*m_settings), QStringList({b}));
        QCOMPARE(cardPaths(m_view.get()), QStringList({b}));
        QCOMPARE(m_settings->activeProject(), a); // the active project stays

        QTest::mouseClick(child(listed(m_view.get()).at(0), QStringLiteral("icon-button")), Qt::LeftButton);
        QVERIFY(storedPaths(*m_settings).isEmpty());
        const QList<QWidget *> empty = listed(m_view.get());
        QCOMPARE(empty.size(), 1);
        QCOMPARE(qobject_cast<QLabel *>(empty.first())->text(),
                 QStringLiteral("No recent projects. Select a folder to get started."));
        QCOMPARE(selected.count(), 0);
    }

    // "Open" and a click on the card's body both open the third project; a right click or a
    // click on a card's remove button does not.
    void openThirdCard_data()
    {
        QTest::addColumn<bool>("viaBody");
        QTest::newRow("open button") << false;
        QTest::newRow("card body") << true;
    }
    void openThirdCard()
    {
        QFETCH(bool, viaBody);
        QStringList paths;
        for (const char *name : {"c", "b", "a"}) {
            paths.prepend(makeProject(QLatin1String(name)));
            m_settings->addRecentProject(paths.first(), QLatin1String(name));
        }
        m_view = std::make_unique<ProjectView>(m_settings.get());
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        QSignalSpy selected(m_view.get(), &ProjectView::projectSelected);
        const QList<QWidget *> before = listed(m_view.get());
        QWidget *third = before.at(2);

        if (viaBody) // the path label passes the click on to its card
            QTest::mouseClick(child<QLabel>(third, paths.at(2)), Qt::LeftButton);
        else
            QTest::mouseClick(child(third, QStringLiteral("Open")), Qt::LeftButton);

        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().toString(), paths.at(2));
        QCOMPARE(m_settings->activeProject(), paths.at(2));
        QCOMPARE(storedPaths(*m_settings), QStringList({paths.at(2), paths.at(0), paths.at(1)}));
        QCOMPARE(listed(m_view.get()), before); // opening does not rebuild the list

        QTest::mouseClick(third, Qt::RightButton);
        QTest::mouseClick(child(before.at(0), QStringLiteral("icon-button")), Qt::LeftButton);
        QCOMPARE(selected.count(), 1);
    }

    void folderDialog_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("known");
        QTest::newRow("cancelled") << true << false;
        QTest::newRow("new folder") << false << false;
        QTest::newRow("folder already listed") << false << true;
    }
    void folderDialog()
    {
        QFETCH(bool, cancel);
        QFETCH(bool, known);
        const QString older = makeProject(QStringLiteral("older"));
        const QString chosen = makeProject(QStringLiteral("My Game"));
        if (known)
            m_settings->addRecentProject(chosen, QStringLiteral("old name"));
        m_settings->addRecentProject(older, QStringLiteral("older"));
        const QByteArray fileBefore = TestEnv::readFile(Settings::filePath());
        m_view = std::make_unique<ProjectView>(m_settings.get());
        m_view->show();
        QSignalSpy selected(m_view.get(), &ProjectView::projectSelected);
        const QStringList listedBefore = cardPaths(m_view.get());

        // Answers the dialog once it is up: the click below blocks until then.
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            answer.stop();
            QCOMPARE(dialog->windowTitle(), QStringLiteral("Select Godot Project"));
            if (cancel)
                return dialog->reject();
            dialog->setDirectory(chosen);
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept is protected
        });
        answer.start(20);
        QTest::mouseClick(child(m_view.get(), QStringLiteral("  Select Project Folder")), Qt::LeftButton);

        if (cancel) {
            QCOMPARE(selected.count(), 0);
            QCOMPARE(TestEnv::readFile(Settings::filePath()), fileBefore);
            QCOMPARE(cardPaths(m_view.get()), listedBefore);
            return;
        }
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().toString(), chosen);
        QCOMPARE(m_settings->activeProject(), chosen);
        QCOMPARE(m_settings->recentProjects().at(0).toObject().value(QLatin1String("name")).toString(),
                 QStringLiteral("My Game"));
        QCOMPARE(cardPaths(m_view.get()), QStringList({chosen, older}));
    }

private:
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<ProjectView> m_view;
};

TAVRIN_TEST_MAIN(TestProjectView)
#include "tst_gui_projectview.moc"
