#include "core/settings.h"
#include "fixtures.h"
#include "gui/guitest.h"
#include "gui/projectview.h"
#include "gui/widgets/elidedlabel.h"
#include "testenv.h"

#include <QtTest>
#include <QtWidgets>

using GuiTest::find;

namespace {

// What the list shows now, in order.
QList<QWidget *> listed(ProjectView &view)
{
    QList<QWidget *> result;
    QWidget *list = view.findChild<QScrollArea *>()->widget();
    for (int i = 0; i < list->layout()->count(); ++i)
        if (QWidget *widget = list->layout()->itemAt(i)->widget(); widget && GuiTest::shownIn(widget, list))
            result.append(widget);
    return result;
}

QStringList cards(ProjectView &view)
{
    QStringList paths;
    for (QWidget *widget : listed(view))
        paths.append(widget->property("projectPath").toString());
    return paths;
}

const QString s_remove = QStringLiteral("Remove from recent projects");

QString project(const QString &name, const QByteArray &godot = "config_version=5\n")
{
    QString path = TestEnv::home() + QLatin1String("/projects/") + name;
    if (!godot.isNull())
        TestEnv::writeFile(path + QLatin1String("/project.godot"), godot);
    return path;
}

} // namespace

class TestProjectView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(Fixtures::writeBundledAddon("1.0.1")); }
    void init() { QVERIFY(TestEnv::writeFile(Settings::filePath(), "{}")); }

    // With projects a, b, c listed newest first: a right click changes nothing; "Open" and a click on
    // a card's body open its project; removing keeps the order and the active project, keyboard
    // focus moves to the same place on the next card, and the last removal shows the empty label.
    void recentProjects()
    {
        Settings settings;
        QStringList paths;
        for (const char *name : {"c", "b", "a"}) {
            paths.prepend(project(QLatin1String(name)));
            settings.addRecentProject(paths.first(), QLatin1String(name));
        }
        settings.setActiveProject(paths.at(0));
        ProjectView view(&settings);
        view.show();
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        QCOMPARE(cards(view), paths);
        const QByteArray fileBefore = TestEnv::readFile(Settings::filePath());
        QSignalSpy selected(&view, &ProjectView::projectSelected);
        QTest::mouseClick(listed(view).at(2), Qt::RightButton);
        QVERIFY(selected.isEmpty() && TestEnv::readFile(Settings::filePath()) == fileBefore);

        QTest::mouseClick(find(listed(view).at(2), QStringLiteral("Open")), Qt::LeftButton);
        QCOMPARE(selected, QList<QVariantList>({{paths.at(2)}}));
        QCOMPARE(settings.activeProject(), paths.at(2));
        QCOMPARE(cards(view), paths); // opening does not reorder what is shown
        // A click on the path label is passed on to the card.
        QTest::mouseClick(listed(view).at(1)->findChildren<ElidedLabel *>().at(1), Qt::LeftButton);
        QCOMPARE(selected, QList<QVariantList>({{paths.at(2)}, {paths.at(1)}}));
        QCOMPARE(settings.activeProject(), paths.at(1));
        QPointer<QWidget> kept = listed(view).at(2);
        view.refresh(); // shows the stored order, with the same cards
        QCOMPARE(cards(view), QStringList({paths.at(1), paths.at(2), paths.at(0)}));
        QCOMPARE(listed(view).at(1), kept.data());

        auto *remove = find(listed(view).at(1), s_remove);
        remove->setFocus();
        QTest::keyClick(remove, Qt::Key_Space);
        QVERIFY(cards(view) == QStringList({paths.at(1), paths.at(0)}) && settings.activeProject() == paths.at(1));
        QTRY_COMPARE(QApplication::focusWidget(), find(listed(view).at(1), s_remove));
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(find(listed(view).at(0), s_remove), Qt::LeftButton);
        QCOMPARE(listed(view).size(), 1);
        QCOMPARE(qobject_cast<QLabel *>(listed(view).at(0))->text(),
                 "No recent projects. Select a folder to get started.");
        QCOMPARE(selected.count(), 2); // removing opens nothing
    }

    // What a card says: the project's own name, the addon against the shipped v1.0.1, or why it
    // cannot be opened (then neither "Open" nor the card's body opens it, but it can be removed).
    void card_data()
    {
        QTest::addColumn<QByteArray>("godot"); // null: no folder
        QTest::addColumn<QByteArray>("addon"); // null: no addon
        QTest::addColumn<QString>("shown");    // name | badge class: text | badge tool tip
        const QByteArray plain = "config_version=5\n";
        QTest::newRow("older addon") << plain << QByteArray("0.9.0")
                                     << "older addon | badge-warn: Addon v0.9.0 · update available | "
                                        "This app ships v1.0.1";
        QTest::newRow("newer addon") << plain << QByteArray("1.2.0")
                                     << "newer addon | badge-neutral: Addon v1.2.0 · newer | "
                                        "Installed v1.2.0 (newer than this app's v1.0.1)";
        QTest::newRow("own name") << QByteArray("[editor]\nconfig/name=\"Not it\"\n[application]\n"
                                                "config/name=\"Space \\\"Rocks\\\"\"\n")
                                  << QByteArray() << "Space \"Rocks\"";
        QTest::newRow("folder gone") << QByteArray() << QByteArray()
                                     << "stored name | badge-error: Folder not found | <path> no longer exists";
    }
    void card()
    {
        QFETCH(QByteArray, godot);
        QFETCH(QByteArray, addon);
        QFETCH(QString, shown);
        const QString path = project(QLatin1String(QTest::currentDataTag()), godot);
        QVERIFY(addon.isNull() ||
                TestEnv::writeFile(path + "/addons/tavrin_mcp/plugin.cfg", "version=\"" + addon + "\"\n"));
        Settings settings;
        settings.addRecentProject(path, QStringLiteral("stored name"));
        ProjectView view(&settings);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QWidget *card = listed(view).at(0);
        QString summary = card->findChildren<ElidedLabel *>().at(0)->fullText();
        for (QLabel *label : card->findChildren<QLabel *>()) {
            const QString cls = label->property("class").toString();
            if (cls.startsWith("badge") && GuiTest::shownIn(label, card))
                summary += " | " + cls + ": " + label->text() + " | " + label->toolTip().replace(path, "<path>");
        }
        QCOMPARE(summary, shown);

        const bool openable = !godot.isNull();
        QCOMPARE(find(card, QStringLiteral("Open"))->isEnabled(), openable);
        QSignalSpy selected(&view, &ProjectView::projectSelected);
        QTest::mouseClick(card, Qt::LeftButton);
        QCOMPARE(selected.count(), int(openable));
        QTest::mouseClick(find(card, s_remove), Qt::LeftButton);
        QVERIFY(settings.recentProjects().isEmpty());
    }

    // The folder dialog (here its test seam) refuses a folder without project.godot with a message
    // naming it, and opens again where the user was, until a project is chosen or it is cancelled.
    void folderDialog_data()
    {
        QTest::addColumn<QStringList>("answers"); // "": cancel
        const QString game = project(QStringLiteral("game"), "[application]\nconfig/name=\"Game\"\n");
        const QString plain = project(QStringLiteral("plain folder"), QByteArray());
        QVERIFY(QDir().mkpath(plain));
        QTest::newRow("cancelled") << QStringList{""};
        QTest::newRow("project") << QStringList{game};
        QTest::newRow("refused, then cancelled") << QStringList{plain, ""};
        QTest::newRow("refused twice, then a project") << QStringList{plain, plain, game};
    }
    void folderDialog()
    {
        QFETCH(QStringList, answers);
        const QString plain = project(QStringLiteral("plain folder"), QByteArray());
        const QString game = project(QStringLiteral("game"), QByteArray());
        const int refusals = int(answers.count(plain));
        const bool chosen = answers.last() == game;
        Settings settings;
        ProjectView view(&settings);
        view.show();
        QStringList starts;
        view.setFolderChooser([&](QWidget *, const QString &start) {
            starts << start;
            return answers.takeFirst();
        });
        QStringList messages;
        QTimer answer; // the refusal is a modal box: read and close it
        connect(&answer, &QTimer::timeout, this, [&messages] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                messages << box->windowTitle() + ": " + box->text();
                box->accept();
            }
        });
        answer.start(20);
        QSignalSpy selected(&view, &ProjectView::projectSelected);
        QTest::mouseClick(find(&view, QStringLiteral("  Select Project Folder")), Qt::LeftButton);
        QCOMPARE(starts.first(), TestEnv::home()); // not the folder the app was started from
        QVERIFY(answers.isEmpty());
        QCOMPARE(messages, QStringList(refusals, "Not a Godot project: " + QDir::toNativeSeparators(plain) +
                                                     " has no project.godot file.\n\nChoose the folder that holds "
                                                     "your Godot project's project.godot."));
        QCOMPARE(starts.mid(1), QStringList(refusals, plain)); // each time again where the user was
        QCOMPARE(selected, chosen ? QList<QVariantList>({{game}}) : QList<QVariantList>());
        QCOMPARE(settings.activeProject(), chosen ? game : QString());
        QCOMPARE(cards(view), chosen ? QStringList(game) : QStringList(QString()));
        QVERIFY(!chosen || settings.recentProjects().at(0)["name"].toString() == "Game");
        if (chosen) { // the next choice starts beside the latest project
            answers = QStringList{""};
            QTest::mouseClick(find(&view, QStringLiteral("  Select Project Folder")), Qt::LeftButton);
            QCOMPARE(starts.last(), QFileInfo(game).absolutePath());
        }
    }
};

TAVRIN_TEST_MAIN(TestProjectView)
#include "tst_gui_projectview.moc"
