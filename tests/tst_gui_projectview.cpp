#include "projectview.h"
#include "settings.h"
#include "testenv.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

class TestProjectView : public QObject
{
    Q_OBJECT

private slots:
    // Three recent projects a, b, c, newest first, with a active.
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
        QCOMPARE(cards(), m_paths);
    }
    void cleanup() { m_view.reset(); }

    // A cancelled folder dialog and a right click change nothing; "Open" on the third card and a
    // click on a card's body open that project.
    void openingProjects()
    {
        const QByteArray fileBefore = TestEnv::readFile(Settings::filePath());
        QSignalSpy selected(m_view.get(), &ProjectView::projectSelected);
        QTimer answer; // the click below blocks until the dialog is answered
        connect(&answer, &QTimer::timeout, this, [&answer] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()))
                answer.stop(), dialog->reject();
        });
        answer.start(20);
        QTest::mouseClick(child(m_view.get(), QStringLiteral("  Select Project Folder")), Qt::LeftButton);
        QVERIFY(!answer.isActive());
        QTest::mouseClick(listed().at(2), Qt::RightButton);
        QCOMPARE(selected.count(), 0);
        QCOMPARE(TestEnv::readFile(Settings::filePath()), fileBefore);
        QCOMPARE(cards(), m_paths);

        QTest::mouseClick(child(listed().at(2), QStringLiteral("Open")), Qt::LeftButton);
        QCOMPARE(selected.takeFirst().first().toString(), m_paths.at(2));
        QCOMPARE(m_settings->activeProject(), m_paths.at(2));
        QCOMPARE(stored(), QStringList({m_paths.at(2), m_paths.at(0), m_paths.at(1)}));
        QCOMPARE(cards(), m_paths); // opening does not reorder what is shown
        QTest::mouseClick(child<QLabel>(listed().at(1), m_paths.at(1)), Qt::LeftButton); // passed on to the card
        QCOMPARE(selected.takeFirst().first().toString(), m_paths.at(1));
        QCOMPARE(m_settings->activeProject(), m_paths.at(1));
        QCOMPARE(selected.count(), 0);
    }

    // Removing keeps the order and the active project; the last removal shows the empty label.
    void removeUntilEmpty()
    {
        QSignalSpy selected(m_view.get(), &ProjectView::projectSelected);
        QTest::mouseClick(child(listed().at(1), QStringLiteral("icon-button")), Qt::LeftButton);
        QCOMPARE(cards(), QStringList({m_paths.at(0), m_paths.at(2)}));
        QCOMPARE(stored(), cards());
        QCOMPARE(m_settings->activeProject(), m_paths.at(0));
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(child(listed().at(0), QStringLiteral("icon-button")), Qt::LeftButton);
        QVERIFY(stored().isEmpty());
        QCOMPARE(listed().size(), 1);
        QCOMPARE(qobject_cast<QLabel *>(listed().at(0))->text(),
                 QStringLiteral("No recent projects. Select a folder to get started."));
        QCOMPARE(selected.count(), 0);
    }

private:
    // What the list shows now, in order: a rebuild takes old widgets out of the layout at once.
    QList<QWidget *> listed() const
    {
        QList<QWidget *> result;
        QLayout *layout = m_view->findChild<QScrollArea *>()->widget()->layout();
        for (int i = 0; i < layout->count(); ++i) {
            if (QWidget *widget = layout->itemAt(i)->widget())
                result.append(widget);
        }
        return result;
    }
    template<typename T = QPushButton> static T *child(QWidget *parent, const QString &textOrClass)
    {
        for (T *widget : parent->findChildren<T *>()) {
            if (widget->text() == textOrClass || widget->property("class").toString() == textOrClass)
                return widget;
        }
        return nullptr;
    }
    QStringList cards() const
    {
        QStringList paths;
        for (QWidget *widget : listed())
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
