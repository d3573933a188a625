#include "core/addon.h"
#include "core/godotlocator.h"
#include "core/godotproject.h"
#include "core/settings.h"
#include "core/setupmodel.h"
#include "fakegodot.h"
#include "fixtures.h"
#include "gui/guitest.h"
#include "gui/projectview.h"
#include "gui/settingsview.h"
#include "gui/setup/addoncard.h"
#include "gui/setup/setupview.h"
#include "testenv.h"

#include <QtTest>
#include <QtWidgets>

// The Godot end as the user meets it: the addon card's plugin line and its next step, "Open in
// Godot" with a fake godot on the PATH, a Godot 3 project, the project cards and Godot's project
// list, and the GODOT EDITOR card of the Settings page.
class TestGodotChain : public QObject
{
    Q_OBJECT

    struct Pages
    {
        Settings settings;
        SetupModel model{&settings};
        SetupView setup{&model};
        ProjectView projects{&settings};
        SettingsView settingsPage{&settings};
        QSignalSpy setupToasts{&setup, &SetupView::showToast};
        QSignalSpy settingsToasts{&settingsPage, &SettingsView::showToast};
        Pages()
        {
            projects.setGodot(model.godot());
            settingsPage.setGodot(model.godot());
        }
    };
    std::unique_ptr<Pages> p;
    const QString m_project = TestEnv::root().path() + "/chain";
    const QString m_arguments = TestEnv::root().path() + "/godot-arguments";

    QString addonCard() const { return GuiTest::text(p->setup.findChild<AddonCard *>()); }
    static bool idle() { return SetupModel::workers()->waitForDone(30000); }
    // The chain and the Godot in use read, and shown.
    void settle() const
    {
        QTRY_VERIFY(!p->model.godot()->isSearching());
        QVERIFY(idle());
        QCoreApplication::processEvents();
    }
    void openSetup() const
    {
        p->settings.setActiveProject(m_project);
        p->setup.refresh();
        settle();
    }
    void click(QWidget *root, const QString &name) const
    {
        auto *button = GuiTest::find<QPushButton>(root, name);
        QVERIFY2(button && button->isEnabled(), qPrintable("no usable button " + name + " in " + GuiTest::text(root)));
        QTest::mouseClick(button, Qt::LeftButton);
    }
    static QByteArray godotScript(const QByteArray &version)
    {
        return "case \"$1\" in --version) echo '" + version + "'; exit 0;; esac\n";
    }
    // A fake editor on the project and, given our addon's version, the record the addon writes in it.
    FakeGodot::Process startEditor(const QStringList &arguments, const QString &folder, const QString &addon) const
    {
        FakeGodot::Process editor = FakeGodot::start(TestEnv::root().path() + "/editor/godot", arguments, folder);
        const QString record = QStringLiteral(R"x({"pid": %1, "godot": "4.3-stable (official)", "addon": "%2"})x");
        if (editor && !addon.isEmpty() &&
            !TestEnv::writeFile(GodotProject::sessionFile(m_project),
                                record.arg(editor->processId()).arg(addon).toUtf8()))
            return nullptr;
        return editor;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(Fixtures::writeBundledAddon("9.8.7"));
        QVERIFY(QDir().mkpath(TestEnv::root().path() + "/editor"));
        QVERIFY(FakeGodot::install(TestEnv::root().path() + "/editor/godot"));
    }

    void init()
    {
        p.reset();
        QVERIFY(idle());
        QVERIFY(QDir(m_project).removeRecursively());
        QFile::remove(m_arguments);
        QFile::remove(Settings::filePath());
        for (const QString &dir : {TestEnv::home(), TestEnv::dataHome()})
            QVERIFY(QDir(dir).removeRecursively() && QDir().mkpath(dir));
        // A Godot 4.3 on the PATH that writes down how it was started.
        QVERIFY(!TestEnv::writeTool("godot", godotScript("4.3.stable.official.77dcf97d8") +
                                                 "printf '%s\\n' \"$@\" > '" + m_arguments.toUtf8() + "'")
                     .isEmpty());
        QVERIFY(TestEnv::writeFile(m_project + "/project.godot",
                                   "config_version=5\n\n[application]\n\nconfig/name=\"Chain\"\n"
                                   "config/features=PackedStringArray(\"4.3\", \"Forward Plus\")\n"));
        QVERIFY(Addon().install(m_project)); // files only: the plugin is not listed
        p = std::make_unique<Pages>();
    }

    // Installed but not listed → Enable lists it in project.godot → Open in Godot starts the
    // editor found on the PATH with the project → the card follows the editor loading the addon.
    void enableThenOpen()
    {
        openSetup();
        QWidget *card = p->setup.findChild<AddonCard *>();
        const QString godot = "Godot 4.3 · " + TestEnv::binDir() + "/godot|";
        QCOMPARE(addonCard(),
                 "Tavrin Addon|Installed v9.8.7|Not enabled in this project|" + godot + "[Enable]|[Uninstall]");

        click(card, "Enable");
        QTRY_VERIFY_WITH_TIMEOUT(!p->setupToasts.isEmpty(), 20000);
        QCOMPARE(p->setupToasts.takeFirst(), (QVariantList{"Tavrin MCP enabled in Chain", 1}));
        QVERIFY2(
            TestEnv::readFile(m_project + "/project.godot")
                .endsWith("\n[editor_plugins]\n\nenabled=PackedStringArray(\"res://addons/tavrin_mcp/plugin.cfg\")\n"),
            TestEnv::readFile(m_project + "/project.godot").constData());
        QCOMPARE(addonCard(), "Tavrin Addon|Installed v9.8.7|Enabled · Not running: open the project in Godot|" +
                                  godot + "[Open in Godot]|[Uninstall]");

        click(card, "Open in Godot");
        QCOMPARE(p->setupToasts.takeFirst(), (QVariantList{"Opening Chain in Godot 4.3", 0}));
        QTRY_COMPARE_WITH_TIMEOUT(TestEnv::readFile(m_arguments), "--path\n" + m_project.toUtf8() + "\n--editor\n",
                                  10000);

        // The editor comes up and our addon writes its record: the card sees it without being asked.
        const FakeGodot::Process editor = startEditor({"--path", m_project, "--editor"}, {}, "9.8.7");
        QVERIFY(editor);
        QTRY_COMPARE_WITH_TIMEOUT(
            addonCard(), "Tavrin Addon|Installed v9.8.7|Enabled · Loaded in Godot 4.3|" + godot + "[Uninstall]", 10000);
    }

    // The links that break before any editor runs: each is named on the card with what helps.
    void brokenLinks_data()
    {
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<QString>("card");   // after the title
        QTest::addColumn<QString>("repair"); // a button that repairs it; empty: none
        QTest::addColumn<QString>("after");
        const QString godot = "|Godot 4.3 · " + TestEnv::binDir() + "/godot|";
        const QString ready =
            "Installed v9.8.7|Enabled · Not running: open the project in Godot" + godot + "[Open in Godot]|[Uninstall]";
        using TestEnv::row;
        row("project.godot a folder", "folder",
            "Installed v9.8.7|res://project.godot is a folder, not a file." + godot + "[Uninstall]", "", "");
        row("listed, folder gone", "gone",
            "Not installed|Listed in the project's plugins, but its folder is missing: Install puts it back|[Install]",
            "Install", ready);
        row("script missing", "script",
            "Installed v9.8.7|Godot will not load it: The addon's script res://addons/tavrin_mcp/plugin.gd is "
            "missing." +
                godot + "[Reinstall]|[Uninstall]",
            "Reinstall", ready);
    }
    void brokenLinks()
    {
        QFETCH(QString, breakage);
        QFETCH(QString, card);
        QFETCH(QString, repair);
        QFETCH(QString, after);
        QString error;
        if (breakage == "folder") {
            QVERIFY(QFile::remove(m_project + "/project.godot") && QDir().mkpath(m_project + "/project.godot"));
        } else if (breakage == "gone") {
            QVERIFY2(GodotProject::setPluginEnabled(m_project, true, &error), qPrintable(error));
            QVERIFY(QDir(m_project + "/addons").removeRecursively());
        } else {
            QVERIFY(QFile::remove(m_project + "/addons/tavrin_mcp/plugin.gd"));
        }
        openSetup();
        QCOMPARE(addonCard(), "Tavrin Addon|" + card);
        if (repair.isEmpty())
            return;
        click(p->setup.findChild<AddonCard *>(), repair);
        QTRY_COMPARE_WITH_TIMEOUT(addonCard(), "Tavrin Addon|" + after, 20000);
    }

    // While an editor has the project open, the card leaves project.godot to it, and Uninstall asks
    // for the editor to be closed first.
    void whileGodotHasTheProjectOpen_data()
    {
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QString>("loaded"); // the addon version in the editor's record; empty: none
        QTest::addColumn<QString>("line");
        using TestEnv::row;
        row("not listed", false, "",
            "Not enabled: Godot has the project open, so tick Project → Project Settings → Plugins → Tavrin MCP there "
            "(no restart needed)");
        row("listed from outside", true, "",
            "Enabled · Godot has the project open without Tavrin MCP: reload it there (Project → Reload Current "
            "Project)");
        row("older copy loaded", true, "9.8.6", "Reload the project in Godot to load v9.8.7");
    }
    void whileGodotHasTheProjectOpen()
    {
        QFETCH(bool, listed);
        QFETCH(QString, loaded);
        QFETCH(QString, line);
        if (listed) {
            QString error;
            QVERIFY2(GodotProject::setPluginEnabled(m_project, true, &error), qPrintable(error));
        }
        const FakeGodot::Process editor = startEditor({"-e"}, m_project, loaded); // opened from its folder
        QVERIFY(editor);
        const QByteArray before = TestEnv::readFile(m_project + "/project.godot");
        openSetup();
        QCOMPARE(addonCard(),
                 "Tavrin Addon|Installed v9.8.7|" + line + "|Godot 4.3 · " + TestEnv::binDir() + "/godot|[Uninstall]");

        click(p->setup.findChild<AddonCard *>(), "Uninstall");
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = GuiTest::shownWindow<QMessageBox>()));
        QCOMPARE(box->text(), "Close “Chain” in Godot first.");
        QCOMPARE(box->buttons().size(), 1); // nothing to confirm
        box->button(QMessageBox::Ok)->click();
        QTRY_VERIFY(!GuiTest::shownWindow<QMessageBox>());
        QVERIFY(idle());
        QVERIFY(QFileInfo(m_project + "/addons/tavrin_mcp/plugin.cfg").isFile());
        QCOMPARE(TestEnv::readFile(m_project + "/project.godot"), before);
        QVERIFY(p->setupToasts.isEmpty());
    }

    // A Godot 3 project gets no Install and no "Open in Godot" (Godot 4 would convert it); the
    // project cards name the Godot each project was last saved with.
    void godotVersions()
    {
        const QString godot3 = TestEnv::root().path() + "/old";
        const QString plain = TestEnv::root().path() + "/plain";
        QVERIFY(QDir(godot3).removeRecursively() && QDir(plain).removeRecursively());
        QVERIFY(TestEnv::writeFile(godot3 + "/project.godot",
                                   "config_version=4\n\n[application]\n\nconfig/name=\"Old\"\n"));
        QVERIFY(TestEnv::writeFile(plain + "/project.godot", "config_version=5\n"));
        for (const QString &path : {plain, godot3, m_project})
            p->settings.addRecentProject(path, QDir(path).dirName());
        p->settings.setActiveProject(godot3);
        p->setup.refresh();
        settle();
        QCOMPARE(addonCard(), "Tavrin Addon|Not installed|A Godot 3 project: the Tavrin MCP addon needs Godot 4");

        p->projects.refresh();
        const auto card = [&](const QString &path) -> QWidget * {
            for (QFrame *frame : p->projects.findChildren<QFrame *>())
                if (frame->property("projectPath").toString() == path && frame->property("class") == "project-card")
                    return frame;
            return nullptr;
        };
        const auto launch = [&](const QString &path) {
            return card(path)->findChild<QPushButton *>("projectOpenInGodot");
        };
        QVERIFY(card(m_project) && card(godot3) && card(plain));
        QCOMPARE(GuiTest::text(card(m_project)), "Chain|" + m_project + "|Addon v9.8.7|[Open]|Godot 4.3");
        QCOMPARE(GuiTest::text(card(godot3)),
                 "Old|" + godot3 +
                     "|[Open]|Godot 3<Tavrin MCP needs Godot 4>|Active<The project the Setup page works on>");
        QCOMPARE(GuiTest::text(card(plain)), "plain|" + plain + "|[Open]");
        QVERIFY(launch(m_project)->isEnabled() && launch(plain)->isEnabled());
        QVERIFY(!launch(godot3)->isEnabled());
        QCOMPARE(launch(godot3)->toolTip(), "A Godot 3 project: Godot 4 would offer to convert it");

        QTest::mouseClick(launch(plain), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(TestEnv::readFile(m_arguments), "--path\n" + plain.toUtf8() + "\n--editor\n", 10000);
    }

    // Without a Godot 4 every "Open in Godot" is disabled and says why.
    void noGodot4()
    {
        QVERIFY(!TestEnv::writeTool("godot", godotScript("3.5.3.stable.official")).isEmpty());
        p = std::make_unique<Pages>();
        p->settings.addRecentProject(m_project, "Chain");
        QString error;
        QVERIFY2(GodotProject::setPluginEnabled(m_project, true, &error), qPrintable(error));
        openSetup();
        p->projects.refresh();
        const QString why = "No Godot 4 found: choose it in Settings";
        QCOMPARE(addonCard(), "Tavrin Addon|Installed v9.8.7|Enabled · Not running: open the project in Godot|" + why +
                                  "|[Open in Godot/off]|[Uninstall]");
        for (QWidget *root : QList<QWidget *>{&p->setup, &p->projects}) {
            const QList<QPushButton *> buttons =
                root->findChildren<QPushButton *>(root == &p->setup ? "addonOpenInGodot" : "projectOpenInGodot");
            QCOMPARE(buttons.size(), 1);
            QVERIFY(!buttons.at(0)->isEnabled());
            QCOMPARE(buttons.at(0)->toolTip(), why);
        }
        QVERIFY(!QFile::exists(m_arguments));
    }

    // Godot's own project list offers what the recent list lacks; Add moves a project over.
    void godotProjectList()
    {
        const QString other = TestEnv::root().path() + "/other";
        QVERIFY(QDir(other).removeRecursively());
        QVERIFY(
            TestEnv::writeFile(other + "/project.godot", "config_version=5\n[application]\nconfig/name=\"Other\"\n"));
        QVERIFY(TestEnv::writeFile(TestEnv::dataHome() + "/godot/projects.cfg",
                                   ("[" + other + "]\n\nfavorite=false\n\n[" + m_project + "]\n\nfavorite=true\n\n[" +
                                    TestEnv::root().path() + "/gone]\n\nfavorite=true\n")
                                       .toUtf8()));
        p->settings.addRecentProject(other, "Other");
        p->projects.resize(800, 600);
        p->projects.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p->projects));
        p->projects.refresh();
        auto *list = p->projects.findChild<QWidget *>("godotProjectList");
        // The page's first read, from before the list was written, may come in first.
        QTRY_COMPARE(GuiTest::text(list), "FROM GODOT'S PROJECT LIST|★ Chain|" + m_project + "|[Add]");

        QTest::mouseClick(GuiTest::find<QPushButton>(list, "Add Chain"), Qt::LeftButton);
        QCOMPARE(p->settings.recentProjects().first().toObject().value("path").toString(), m_project);
        QTRY_VERIFY(!list->isVisibleTo(&p->projects));
        QCOMPARE(p->settings.activeProject(), QString()); // added, not opened
    }

    // GODOT EDITOR: the editor in use; Choose… asks the chosen program for its version and keeps
    // only a Godot 4; Detect again forgets the choice.
    void chooseGodot_data()
    {
        QTest::addColumn<QByteArray>("version"); // what the chosen program prints for --version
        QTest::addColumn<QString>("answer");     // toast, or the box's text
        using TestEnv::row;
        row("Godot 4", QByteArray("4.4.1.stable.mono.official.49a5bc7b6"), "Godot 4.4.1 will open your projects");
        row("Godot 3", QByteArray("3.5.3.stable.official"),
            "{path} is Godot 3.5.3. Tavrin MCP needs Godot 4: choose a Godot 4 editor.");
        row("not Godot", QByteArray("hello"),
            "{path} is not a Godot editor: asked for its version (--version), it gave no Godot version.");
    }
    void chooseGodot()
    {
        QFETCH(QByteArray, version);
        QFETCH(QString, answer);
        const QString chosen = TestEnv::writeTool("my-godot", godotScript(version), TestEnv::root().path() + "/editor");
        answer.replace("{path}", chosen);
        SettingsView &page = p->settingsPage;
        page.setFileChooser(
            [&](QWidget *, const QString &start) { return start == TestEnv::binDir() ? chosen : QString(); });
        page.refresh();
        settle();
        const auto card = [&] { return GuiTest::text(page.findChild<QLabel *>("godotName")->parentWidget()); };
        QCOMPARE(card(), "Godot 4.3|" + TestEnv::binDir() +
                             "/godot|The newest Godot 4 found on this computer. “Open "
                             "in Godot” starts it on a project.|[Choose…]|[Detect again]");

        click(&page, "Choose the Godot editor");
        const bool godot4 = version.startsWith('4');
        if (godot4) {
            QTRY_VERIFY_WITH_TIMEOUT(!p->settingsToasts.isEmpty(), 10000);
            QCOMPARE(p->settingsToasts.takeFirst(), (QVariantList{answer, 1}));
            QCOMPARE(card(), "Godot 4.4.1 (.NET)|" + chosen +
                                 "|Chosen by you. “Open in Godot” starts it on a project.|[Choose…]|[Detect again]");
        } else {
            QMessageBox *box = nullptr;
            QTRY_VERIFY_WITH_TIMEOUT((box = GuiTest::shownWindow<QMessageBox>()), 10000);
            QCOMPARE(box->text(), answer);
            box->button(QMessageBox::Ok)->click();
            QTRY_VERIFY(!GuiTest::shownWindow<QMessageBox>());
            QVERIFY(p->settingsToasts.isEmpty());
        }
        QCOMPARE(p->settings.godotPath(), godot4 ? chosen : QString());
        // The choice outlives the session.
        QCOMPARE(Settings().godotPath(), godot4 ? chosen : QString());

        click(&page, "Detect again");
        settle();
        QCOMPARE(p->settings.godotPath(), QString());
        QVERIFY(card().startsWith("Godot 4.3|" + TestEnv::binDir() + "/godot|"));
    }
};

int main(int argc, char *argv[])
{
    if (FakeGodot::asked())
        return FakeGodot::wait();
    TestEnv::isolate(true);
    QApplication app(argc, argv);
    TestGodotChain tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_gui_godotchain.moc"
