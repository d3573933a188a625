#include "projectview.h"
#include "settings.h"
#include "testenv.h"

#include <QApplication>
#include <QFileDialog>
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

// What the recent list shows now, in order: a rebuild takes old widgets out of the layout at once.
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
    // Three recent projects, newest first; a user may be handed a fresh one.
    void init()
    {
        QFile::remove(Settings::filePath());
        m_settings = std::make_unique<Settings>();
        m_paths.clear();
        for (const char *name : {"c", "b", "a"}) {
            m_paths.prepend(TestEnv::home() + QLatin1String("/projects/") + QLatin1String(name));
            QVERIFY(TestEnv::writeFile(m_paths.first() + QLatin1String("/project.godot"), "config_version=5\n"));
            m_settings->addRecentProject(m_paths.first(), QLatin1String(name));
        }
        m_settings->setActiveProject(m_paths.at(0));
        m_view = std::make_unique<ProjectView>(m_settings.get());
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }
    void cleanup() { m_view.reset(); }

    // Removing keeps the order and the active project, and the last removal shows the empty label.
    void removeUntilEmpty()
    {
        QSignalSpy selected(m_view.get(), &ProjectView::projectSelected);
        QCOMPARE(cards(), m_paths);
        QTest::mouseClick(child(listed(m_view.get()).at(1), QStringLiteral("icon-button")), Qt::LeftButton);
        QCOMPARE(cards(), QStringList({m_paths.at(0), m_paths.at(2)}));
        QCOMPARE(stored(), cards());
        QCOMPARE(m_settings->activeProject(), m_paths.at(0));
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(child(listed(m_view.get()).at(0), QStringLiteral("icon-button")), Qt::LeftButton);
        QVERIFY(stored().isEmpty());
        QCOMPARE(listed(m_view.get()).size(), 1);
        QCOMPARE(qobject_cast<QLabel *>(listed(m_view.get()).at(0))->text(),
                 QStringLiteral("No recent projects. Select a folder to get started."));
        QCOMPARE(selected.count(), 0);
    }

    // "Open" and a click on the card's body open the project; a right click does not.
    void openThirdCard_data()
    {
        QTest::addColumn<bool>("viaBody");
        QTest::newRow("open button") << false;
        QTest::newRow("card body") << true;
    }
    void openThirdCard()
    {
        QFETCH(bool, viaBody);
        QSignalSpy selected(m_view.get(), &ProjectView::projectSelected);
        QWidget *third = listed(m_view.get()).at(2);
        QTest::mouseClick(third, Qt::RightButton);
        if (viaBody) // the path label passes the click on to its card
            QTest::mouseClick(child<QLabel>(third, m_paths.at(2)), Qt::LeftButton);
        else
            QTest::mouseClick(child(third, QStringLiteral("Open")), Qt::LeftButton);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().toString(), m_paths.at(2));
        QCOMPARE(m_settings->activeProject(), m_paths.at(2));
        QCOMPARE(stored(), QStringList({m_paths.at(2), m_paths.at(0), m_paths.at(1)}));
    }

    void cancelledFolderDialogChangesNothing()
    {
        const QByteArray fileBefore = TestEnv::readFile(Settings::filePath());
        QSignalSpy selected(m_view.get(), &ProjectView::projectSelected);
        QTimer answer; // the click below blocks until the dialog is answered
        connect(&answer, &QTimer::timeout, this, [&answer] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                answer.stop();
                dialog->reject();
            }
        });
        answer.start(20);
        QTest::mouseClick(child(m_view.get(), QStringLiteral("  Select Project Folder")), Qt::LeftButton);
        QVERIFY(!answer.isActive());
        QCOMPARE(selected.count(), 0);
        QCOMPARE(TestEnv::readFile(Settings::filePath()), fileBefore);
        QCOMPARE(cards(), m_paths);
    }

private:
    QStringList cards() const
    {
        QStringList paths;
        for (QWidget *widget : listed(m_view.get()))
            paths.append(widget->property("projectPath").toString());
        return paths;
    }
    QStringList stored() const
    {
        QStringList paths;
        for (const QJsonValue &entry : m_settings->recentProjects())
            paths.append(entry.toObject().value(QLatin1String("path")).toString());
        return paths;
    }

    QStringList m_paths;
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<ProjectView> m_view;
};

TAVRIN_TEST_MAIN(TestProjectView)
#include "tst_gui_projectview.moc"
