#include "projectview.h"
#include "settings.h"
#include "testenv.h"

#include <QApplication>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

QString projectDir(const QString &name)
{
    return TestEnv::home() + QLatin1String("/projects/") + name;
}

// A Godot project folder; with a non-null version line the addon is installed in it.
QString makeProject(const QString &name, const QByteArray &addonCfg = {})
{
    const QString dir = projectDir(name);
    TestEnv::writeFile(dir + QLatin1String("/project.godot"), "config_version=5\n");
    if (!addonCfg.isNull())
        TestEnv::writeFile(dir + QLatin1String("/addons/tavrin_mcp/plugin.cfg"), addonCfg);
    return dir;
}

// What the recent list holds right now, in order: the list layout drops a previous build's
// widgets at once, while their deletion waits for the event loop.
QList<QWidget *> listWidgets(ProjectView *view)
{
    QList<QWidget *> result;
    auto *scroll = view->findChild<QScrollArea *>();
    QLayout *layout = scroll ? scroll->widget()->layout() : nullptr;
    for (int i = 0; layout && i < layout->count(); ++i) {
        if (QWidget *widget = layout->itemAt(i)->widget())
            result.append(widget);
    }
    return result;
}

QList<QFrame *> cards(ProjectView *view)
{
    QList<QFrame *> result;
    for (QWidget *widget : listWidgets(view)) {
        auto *frame = qobject_cast<QFrame *>(widget);
        if (frame && frame->property("class").toString() == QLatin1String("project-card"))
            result.append(frame);
    }
    return result;
}

QStringList cardPaths(ProjectView *view)
{
    QStringList paths;
    for (QFrame *card : cards(view))
        paths.append(card->property("projectPath").toString());
    return paths;
}

QPushButton *buttonWithText(QWidget *parent, const QString &text)
{
    for (QPushButton *button : parent->findChildren<QPushButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

QLabel *emptyLabel(ProjectView *view)
{
    for (QWidget *widget : listWidgets(view)) {
        auto *label = qobject_cast<QLabel *>(widget);
        if (label && label->text() == QLatin1String("No recent projects. Select a folder to get started."))
            return label;
    }
    return nullptr;
}

QStringList settingsPaths(const Settings &settings)
{
    QStringList paths;
    for (const QJsonValue &entry : settings.recentProjects())
        paths.append(entry.toObject().value(QLatin1String("path")).toString());
    return paths;
}

// Answers the folder dialog that the next click opens: chooses `folder`, or cancels when it is empty.
void answerFolderDialog(const QString &folder)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, folder] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        if (folder.isEmpty()) {
            dialog->reject();
        } else {
            dialog->setDirectory(folder);
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog::accept is protected
        }
    });
    timer->start(20);
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

    void fixedPartAndEmptyList()
    {
        m_view = std::make_unique<ProjectView>(m_settings.get());
        QVERIFY(emptyLabel(m_view.get()));
        QCOMPARE(emptyLabel(m_view.get())->property("class").toString(), QStringLiteral("dim"));
        QVERIFY(cards(m_view.get()).isEmpty());
        QPushButton *select = buttonWithText(m_view.get(), QStringLiteral("  Select Project Folder"));
        QVERIFY(select);
        QCOMPARE(select->property("class").toString(), QStringLiteral("primary"));
        QVERIFY(!QFile::exists(Settings::filePath())); // building reads, never writes
    }

    void cardsAndBadges_data()
    {
        QTest::addColumn<QByteArray>("cfg");
        QTest::addColumn<QString>("badge");
        QTest::newRow("no addon") << QByteArray() << QString();
        QTest::newRow("addon with version") << QByteArray("[plugin]\nversion=\"0.9.0\"\n") << "Addon v0.9.0";
        QTest::newRow("addon without version") << QByteArray("[plugin]\nname=\"x\"\n") << "Addon v";
    }
    void cardsAndBadges()
    {
        QFETCH(QByteArray, cfg);
        QFETCH(QString, badge);
        const QString first = makeProject(QStringLiteral("first"), cfg);
        const QString second = makeProject(QStringLiteral("second"));
        const QString gone = projectDir(QStringLiteral("gone")); // listed, but no longer on disk
        m_settings->addRecentProject(gone, QStringLiteral("gone"));
        m_settings->addRecentProject(second, QStringLiteral("second"));
        m_settings->addRecentProject(first, QStringLiteral("first"));
        m_view = std::make_unique<ProjectView>(m_settings.get());

        QCOMPARE(cardPaths(m_view.get()), QStringList({first, second, gone}));
        QVERIFY(!emptyLabel(m_view.get()));
        const QList<QFrame *> list = cards(m_view.get());
        QStringList badges;
        for (QLabel *label : list.first()->findChildren<QLabel *>()) {
            if (label->property("class").toString() == QLatin1String("badge-ok"))
                badges.append(label->text());
        }
        QCOMPARE(badges, badge.isNull() ? QStringList() : QStringList(badge));
        for (QFrame *card : list.mid(1)) {
            for (QLabel *label : card->findChildren<QLabel *>())
                QVERIFY(label->property("class").toString() != QLatin1String("badge-ok"));
        }
        // Left to right: icon, name and path, (badge), remove, open.
        auto *row = qobject_cast<QHBoxLayout *>(list.first()->layout());
        QVERIFY(row);
        const int last = row->count() - 1;
        QCOMPARE(qobject_cast<QPushButton *>(row->itemAt(last)->widget())->text(), QStringLiteral("Open"));
        auto *remove = qobject_cast<QPushButton *>(row->itemAt(last - 1)->widget());
        QCOMPARE(remove->accessibleName(), QStringLiteral("Remove from recent projects"));
        QCOMPARE(remove->property("class").toString(), QStringLiteral("icon-button"));
        QCOMPARE(row->count(), badge.isNull() ? 4 : 5);
    }

    void removeButtons()
    {
        const QString a = makeProject(QStringLiteral("a"));
        const QString b = makeProject(QStringLiteral("b"));
        m_settings->addRecentProject(a, QStringLiteral("a"));
        m_settings->addRecentProject(b, QStringLiteral("b"));
        m_settings->setActiveProject(a);
        m_view = std::make_unique<ProjectView>(m_settings.get());
        QSignalSpy selected(m_view.get(), &ProjectView::projectSelected);

        auto removeButtonOf = [this](int index) {
            QPushButton *found = nullptr;
            for (QPushButton *button : cards(m_view.get()).at(index)->findChildren<QPushButton *>()) {
                if (button->property("class").toString() == QLatin1String("icon-button"))
                    found = button;
            }
            return found;
        };
        QTest::mouseClick(removeButtonOf(1), Qt::LeftButton);
        QCOMPARE(settingsPaths(*m_settings), QStringList({b}));
        QCOMPARE(cardPaths(m_view.get()), QStringList({b}));
        QCOMPARE(m_settings->activeProject(), a); // removing an entry leaves the active project alone

        QTest::mouseClick(removeButtonOf(0), Qt::LeftButton);
        QVERIFY(settingsPaths(*m_settings).isEmpty());
        QVERIFY(cards(m_view.get()).isEmpty());
        QVERIFY(emptyLabel(m_view.get()));
        QCOMPARE(selected.count(), 0);
    }

    // "Open" and a click on the card's body both open the third project; clicks on the card's
    // buttons never count as a body click.
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
        const QString oldStamp =
            m_settings->recentProjects().at(2).toObject().value(QLatin1String("last_opened")).toString();
        m_view = std::make_unique<ProjectView>(m_settings.get());
        m_view->resize(800, 600);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        QSignalSpy selected(m_view.get(), &ProjectView::projectSelected);
        const QList<QFrame *> before = cards(m_view.get());
        QFrame *third = before.at(2);

        if (viaBody) {
            QLabel *pathLabel = nullptr;
            for (QLabel *label : third->findChildren<QLabel *>()) {
                if (label->text() == paths.at(2))
                    pathLabel = label;
            }
            QVERIFY(pathLabel);
            QTest::mouseClick(pathLabel, Qt::LeftButton); // reaches the card through propagation
        } else {
            QTest::mouseClick(buttonWithText(third, QStringLiteral("Open")), Qt::LeftButton);
        }

        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().toString(), paths.at(2));
        QCOMPARE(m_settings->activeProject(), paths.at(2));
        QCOMPARE(settingsPaths(*m_settings), QStringList({paths.at(2), paths.at(0), paths.at(1)}));
        const QString newStamp =
            m_settings->recentProjects().at(0).toObject().value(QLatin1String("last_opened")).toString();
        QVERIFY(!newStamp.isEmpty());
        QVERIFY(newStamp >= oldStamp);
        QCOMPARE(cards(m_view.get()), before); // the click does not rebuild the list

        // The remove button and a right click are not body clicks.
        QTest::mouseClick(third, Qt::RightButton);
        QCOMPARE(selected.count(), 1);
        QPushButton *remove = nullptr;
        for (QPushButton *button : before.at(0)->findChildren<QPushButton *>()) {
            if (button->property("class").toString() == QLatin1String("icon-button"))
                remove = button;
        }
        QTest::mouseClick(remove, Qt::LeftButton);
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
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        QSignalSpy selected(m_view.get(), &ProjectView::projectSelected);
        const QStringList listedBefore = cardPaths(m_view.get());

        answerFolderDialog(cancel ? QString() : chosen);
        QTest::mouseClick(buttonWithText(m_view.get(), QStringLiteral("  Select Project Folder")), Qt::LeftButton);

        if (cancel) {
            QCOMPARE(selected.count(), 0);
            QCOMPARE(TestEnv::readFile(Settings::filePath()), fileBefore);
            QCOMPARE(cardPaths(m_view.get()), listedBefore);
            return;
        }
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.first().first().toString(), chosen);
        QCOMPARE(m_settings->activeProject(), chosen);
        QCOMPARE(settingsPaths(*m_settings), QStringList({chosen, older}));
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
