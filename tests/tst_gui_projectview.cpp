#include "projectview.h"
#include "settings.h"
#include "testenv.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// What the list shows now, in order: a rebuild takes old widgets out of the layout at once.
QList<QWidget *> listed(ProjectView &view)
{
    QList<QWidget *> result;
    QLayout *layout = view.findChild<QScrollArea *>()->widget()->layout();
    for (int i = 0; i < layout->count(); ++i) {
        if (QWidget *widget = layout->itemAt(i)->widget())
            result.append(widget);
    }
    return result;
}

QStringList cards(ProjectView &view)
{
    QStringList paths;
    for (QWidget *widget : listed(view))
        paths.append(widget->property("projectPath").toString());
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

} // namespace

class TestProjectView : public QObject
{
    Q_OBJECT

private slots:
    // With projects a, b, c listed newest first: a cancelled folder dialog and a right click change
    // nothing; "Open" and a click on a card's body open its project; removing keeps the order and
    // the active project, and the last removal shows the empty label.
    void recentProjects()
    {
        Settings settings;
        QStringList paths;
        for (const char *name : {"c", "b", "a"}) {
            paths.prepend(TestEnv::home() + QLatin1String("/projects/") + QLatin1String(name));
            QVERIFY(TestEnv::writeFile(paths.first() + QLatin1String("/project.godot"), "config_version=5\n"));
            settings.addRecentProject(paths.first(), QLatin1String(name));
        }
        settings.setActiveProject(paths.at(0));
        ProjectView view(&settings);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(cards(view), paths);
        const QByteArray fileBefore = TestEnv::readFile(Settings::filePath());
        QSignalSpy selected(&view, &ProjectView::projectSelected);
        QTimer answer; // the click below blocks until the dialog is answered
        connect(&answer, &QTimer::timeout, this, [&answer] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()))
                answer.stop(), dialog->reject();
        });
        answer.start(20);
        QTest::mouseClick(child(&view, QStringLiteral("  Select Project Folder")), Qt::LeftButton);
        QVERIFY(!answer.isActive());
        QTest::mouseClick(listed(view).at(2), Qt::RightButton);
        QCOMPARE(selected.count(), 0);
        QCOMPARE(TestEnv::readFile(Settings::filePath()), fileBefore);
        QCOMPARE(cards(view), paths);

        QTest::mouseClick(child(listed(view).at(2), QStringLiteral("Open")), Qt::LeftButton);
        QCOMPARE(selected, QList<QVariantList>({{paths.at(2)}}));
        QCOMPARE(settings.activeProject(), paths.at(2));
        QCOMPARE(cards(view), paths); // opening does not reorder what is shown
        QTest::mouseClick(child<QLabel>(listed(view).at(1), paths.at(1)), Qt::LeftButton); // passed on to the card
        QCOMPARE(selected, QList<QVariantList>({{paths.at(2)}, {paths.at(1)}}));
        QCOMPARE(settings.activeProject(), paths.at(1));
        view.refresh(); // shows the stored order
        QCOMPARE(cards(view), QStringList({paths.at(1), paths.at(2), paths.at(0)}));

        QTest::mouseClick(child(listed(view).at(1), QStringLiteral("icon-button")), Qt::LeftButton);
        QCOMPARE(cards(view), QStringList({paths.at(1), paths.at(0)}));
        QCOMPARE(settings.activeProject(), paths.at(1));
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(child(listed(view).at(0), QStringLiteral("icon-button")), Qt::LeftButton);
        QCOMPARE(listed(view).size(), 1);
        QCOMPARE(qobject_cast<QLabel *>(listed(view).at(0))->text(),
                 QStringLiteral("No recent projects. Select a folder to get started."));
        QCOMPARE(selected.count(), 2);
    }
};

TAVRIN_TEST_MAIN(TestProjectView)
#include "tst_gui_projectview.moc"
