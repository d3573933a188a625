#include "core/godotproject.h"
#include "core/mcpserver.h"
#include "core/serverprobe.h"
#include "core/settings.h"
#include "core/setupmodel.h"
#include "fakes/fakecli.h"
#include "fakes/fakeserver.h"
#include "fixtures.h"
#include "testenv.h"

#include <QThreadPool>

// The Setup page's state and work, against fake client tools that log every call and can be held at
// a marker file, so that a scan or an operation stays in flight exactly as long as a test needs.
class TestSetupModel : public QObject
{
    Q_OBJECT

    const QString m_state = TestEnv::root().path() + "/state", m_project = TestEnv::root().path() + "/project";
    std::unique_ptr<Settings> m_settings;
    std::unique_ptr<SetupModel> m_model;
    QStringList m_outcomes; // "message" or "message: detail", with "!" in front of a failure
    QStringList m_resyncs;  // messages of resyncFinished
    QList<ResyncSummary> m_summaries;

    SetupModel *m() const { return m_model.get(); }
    QString state(const char *name) const { return m_state + '/' + name; }
    void touch(const char *name, const QByteArray &content = {}) const
    {
        QVERIFY(TestEnv::writeFile(state(name), content));
    }
    void release(const char *name) const { QFile::remove(state(name)); }
    // How many calls of a tool's log hold `word`.
    int count(const char *tool, const char *word) const
    {
        return int(FakeCli::calls(m_state, tool).count(QLatin1String(word)));
    }
    int scans() const { return count("codex", "<get>"); }
    static bool idle() { return SetupModel::workers()->waitForDone(30000); }
    void waitForScans(int scans) const
    {
        QTRY_COMPARE_WITH_TIMEOUT(this->scans(), scans, 20000);
        QVERIFY(idle());
        QCoreApplication::processEvents();
        QVERIFY(idle());
        QCoreApplication::processEvents();
    }
    void open()
    {
        m_settings->setActiveProject(m_project);
        m()->refresh();
        waitForScans(1);
    }
    static void writeEntry(const char *id, const char *mode, const char *servers = "mcpServers")
    {
        QVERIFY(TestEnv::writeFile(ClientCatalogue::configPath(id),
                                   QByteArray("{\"") + servers +
                                       "\":{\"tavrin\":{\"command\":\"uvx\",\"args\":[\"tavrin\"],\"env\":{"
                                       "\"GODOT_MCP_PERMISSION_MODE\":\"" +
                                       mode + "\"}}}}"));
    }
    static QString modeIn(const char *id)
    {
        const QByteArray text = TestEnv::readFile(ClientCatalogue::configPath(id));
        return text.contains("full_control") ? "full" : text.contains("safe_edit") ? "safe" : "none";
    }
    QString problems(const char *id) const
    {
        return Clients::entryProblems(m()->client(id), m_settings->permissionMode()).join('\n');
    }
    // A file's modification time set a day back, so that a rewrite shows.
    static QDateTime backdate(const QString &path)
    {
        const QDateTime then = QDateTime::currentDateTime().addDays(-1);
        QFile file(path);
        const bool set = file.open(QIODevice::ReadWrite) && file.setFileTime(then, QFileDevice::FileModificationTime);
        return set ? then : QDateTime();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(Fixtures::writeBundledAddon("9.8.7"));
        QVERIFY(!TestEnv::writeScript("uv", "echo 'uv 0.5.1'", "echo uv 0.5.1").isEmpty());
    }

    void init()
    {
        m_model.reset();
        QVERIFY(QDir(m_state).removeRecursively() && idle()); // releases every hold
        QVERIFY(FakeCli::write(m_state));
        QVERIFY(QDir(m_project).removeRecursively() && TestEnv::writeFile(m_project + "/project.godot", {}));
        // No settings, no client configuration; Claude Desktop and Cursor present, Windsurf and Cline absent.
        for (const QString &dir : {TestEnv::home(), TestEnv::dataHome(), TestEnv::configHome()})
            QVERIFY(QDir(dir).removeRecursively() && QDir().mkpath(dir));
        for (const char *id : {"claude-desktop", "cursor"})
            QVERIFY(QDir().mkpath(QFileInfo(ClientCatalogue::configPath(id)).absolutePath()));
        QVERIFY(TestEnv::writeFile(TestEnv::home() + "/.claude.json", "{}"));
        m_outcomes.clear();
        m_resyncs.clear();
        m_summaries.clear();
        m_settings = std::make_unique<Settings>();
        m_model = std::make_unique<SetupModel>(m_settings.get());
        connect(m(), &SetupModel::operationFinished, this, [this](const SetupOutcome &o) {
            m_outcomes << (o.ok ? QString() : QStringLiteral("!")) + o.message +
                              (o.detail.isEmpty() ? QString() : ": " + o.detail) +
                              (o.note.isEmpty() ? QString() : " | " + o.note);
        });
        connect(m(), &SetupModel::resyncFinished, this, [this](const ResyncSummary &s) {
            m_resyncs << s.message;
            m_summaries << s;
        });
    }

    // Without a project the scan runs and its result is kept, but nothing can happen to an addon.
    // With one: install, update an older copy, uninstall; neither addon work nor a refresh within a
    // minute scans again. What an interrupted install left is finished by the scan, not by reading.
    void addon()
    {
        touch("hold-get-1");
        QSignalSpy prereqs(m(), &SetupModel::prerequisitesChanged);
        m()->refresh();
        QVERIFY(m()->isScanning() && !m()->hasScan());
        m()->installAddon();
        QVERIFY(!m()->isAddonBusy());
        release("hold-get-1");
        waitForScans(1);
        QVERIFY(m()->hasScan() && m()->clients().size() == ClientCatalogue::all().size());
        QCOMPARE(prereqs.count(), 1); // what it found is on the page: tst_gui_setupview

        QSignalSpy addonChanged(m(), &SetupModel::addonChanged);
        m_settings->setActiveProject(m_project);
        QVERIFY(!addonChanged.isEmpty() && m()->project() == m_project && !m()->addon().installed);
        const auto run = [&](bool uninstall, const QString &message) {
            addonChanged.clear();
            uninstall ? m()->uninstallAddon() : m()->installAddon();
            QVERIFY(m()->isAddonBusy() && addonChanged.count() == 1);
            QTRY_VERIFY_WITH_TIMEOUT(!m_outcomes.isEmpty(), 20000);
            QCOMPARE(m_outcomes.takeFirst(), message);
            QVERIFY(!m()->isAddonBusy() && addonChanged.count() == 2);
        };
        // Installing lists the plugin in project.godot; uninstalling takes it off first.
        run(false, "Addon installed | Tavrin MCP enabled in project");
        QCOMPARE(m()->addon().installedVersion, "9.8.7");
        QCOMPARE(GodotProject::pluginState(m_project), GodotProject::PluginState::Enabled);
        QVERIFY(TestEnv::writeFile(m_project + "/addons/tavrin_mcp/plugin.cfg", "version=\"0.0.1\"\n"));
        m()->refresh();
        QVERIFY(m()->addon().updateAvailable);
        run(false, "Addon updated to v9.8.7");
        run(true, "Addon uninstalled");
        QVERIFY(!m()->addon().installed && !QFileInfo::exists(m_project + "/addons/tavrin_mcp"));
        QVERIFY(GodotProject::read(m_project).enabledPlugins.isEmpty());
        QCOMPARE(scans(), 1);

        // Killed between the two renames of an update: the copy waits beside the addon folder.
        QVERIFY(TestEnv::writeFile(m_project + "/addons/.tavrin_mcp.old/plugin.cfg", "version=\"0.5\"\n"));
        QVERIFY(TestEnv::writeFile(m_project + "/addons/.tavrin_mcp.staging/plugin.cfg", "version=\"9\"\n"));
        m()->refresh();
        QVERIFY(!m()->addon().installed && QFileInfo::exists(m_project + "/addons/.tavrin_mcp.staging"));
        m()->scan();
        waitForScans(2);
        QCOMPARE(m()->addon().installedVersion, "0.5");
        QCOMPARE(QDir(m_project + "/addons").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"tavrin_mcp"});
    }

    // A failed operation says what failed and why, and leaves what is known as it was; a client's
    // failure still rescans.
    void failures_data()
    {
        QTest::addColumn<QString>("operation"); // "configure", "remove" or "install"
        QTest::addColumn<QByteArray>("registered");
        QTest::addColumn<QString>("outcome");
        const QByteArray none;
        const QString addFailed = "!Configuration of Codex failed: codex: add failed";
        using TestEnv::row;
        row("write", "configure", none, addFailed);
        row("update", "configure", QByteArray("full_control"), addFailed);
        row("remove", "remove", QByteArray("safe_edit"), "!Removal from Codex failed: codex: remove failed");
        row("addon", "install", none, "!Installing the addon failed: Godot project not found: " + m_project);
    }
    void failures()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, registered);
        QFETCH(QString, outcome);
        touch("codex-fail");
        if (!registered.isNull())
            touch("codex-on", registered);
        QVERIFY(QFile::remove(m_project + "/project.godot"));
        open();
        const ClientInfo before = m()->client("codex");
        if (operation == "install")
            m()->installAddon();
        else if (operation == "remove")
            m()->removeClient("codex");
        else
            m()->configureClient("codex");
        QTRY_COMPARE_WITH_TIMEOUT(m_outcomes, QStringList{outcome}, 20000);
        QVERIFY(!m()->isBusy("codex") && !m()->isAddonBusy());
        QCOMPARE(m()->client("codex").mode, before.mode);
        waitForScans(operation == "install" ? 1 : 2);
    }

    void clientOperationsAndRescans()
    {
        open();
        // Configuring Claude Desktop starts a rescan, held after it read Cursor's folder; configuring
        // Cursor meanwhile makes it stale. Released, it is thrown away and a fresh scan runs at once.
        touch("hold-get-2");
        m()->configureClient("claude-desktop");
        QTRY_COMPARE_WITH_TIMEOUT(scans(), 2, 20000);
        m()->configureClient("cursor");
        QTRY_COMPARE_WITH_TIMEOUT(m_outcomes.size(), 2, 20000);
        QVERIFY(m()->client("cursor").configured); // known at once, before any scan
        release("hold-get-2");
        waitForScans(3);
        QVERIFY(m()->client("claude-desktop").configured && m()->client("cursor").configured);

        // Two operations at once: each client busy on its own, one outcome each, one rescan after
        // the last.
        touch("hold-claude-add");
        touch("hold-codex-add");
        QSignalSpy changed(m(), &SetupModel::clientChanged);
        m()->configureClient("claude-code");
        m()->configureClient("codex");
        m()->configureClient("codex"); // already busy: nothing
        QCOMPARE(changed, QList<QVariantList>({{"claude-code"}, {"codex"}}));
        QVERIFY(m()->isBusy("claude-code") && m()->isBusy("codex") && !m()->isBusy("cursor"));
        QTRY_VERIFY(QFile::exists(state("claude-add-running")) && QFile::exists(state("codex-add-running")));
        // Qt's own parallel work (image conversion, say) runs on the global pool: ours stays off it.
        QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
        release("hold-claude-add");
        QTRY_COMPARE_WITH_TIMEOUT(m_outcomes.size(), 3, 20000);
        QVERIFY(m()->client("claude-code").configured && m()->isBusy("codex"));
        release("hold-codex-add");
        waitForScans(4); // a scan started while Codex worked would make five, or log "busy"
        const QStringList configured{"Claude Desktop configured", "Cursor configured", "Claude Code configured",
                                     "Codex configured"};
        QCOMPARE(m_outcomes, configured);
        QCOMPARE(count("codex", "<busy>"), 0);
        QCOMPARE(m()->client("codex").mode, "safe_edit");

        // A backup put back behind a running scan: that scan is not taken, a fresh one is.
        touch("hold-get-5");
        m()->scan();
        QTRY_COMPARE_WITH_TIMEOUT(scans(), 5, 20000);
        m()->clientFileRestored();
        release("hold-get-5");
        waitForScans(6);

        // The model goes while a rescan and a failing removal are held: nothing more arrives.
        touch("hold-get-7");
        m()->removeClient("cursor");
        QTRY_COMPARE_WITH_TIMEOUT(scans(), 7, 20000);
        touch("codex-fail");
        touch("hold-codex-remove");
        m()->removeClient("codex");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state("codex-remove-running")), 20000);
        m_model.reset();
        release("hold-codex-remove");
        release("hold-get-7");
        QVERIFY(idle());
        QCoreApplication::processEvents();
        QCOMPARE(m_outcomes, QStringList(configured) << "Cursor removed");
    }

    // A mode change with the page never opened and no project: the clients with another mode get
    // the new one, the one that has it already is not touched, and one summary sums it up.
    void modeChangeBeforeAnyScan()
    {
        const char *old[] = {"claude-desktop", "cursor", "windsurf", "vscode"};
        for (const char *id : old)
            writeEntry(id, "safe_edit", id == old[3] ? "servers" : "mcpServers");
        writeEntry("cline", "full_control");
        touch("codex-on", "safe_edit");
        const QDateTime then = backdate(ClientCatalogue::configPath("cline"));
        m_settings->setPermissionMode("full_control");
        QTRY_COMPARE_WITH_TIMEOUT(m_resyncs, QStringList{"Full Control applied to 5 clients"}, 20000);
        QCOMPARE(m_summaries.first().applied, QStringList({"claude-desktop", "cursor", "windsurf", "codex", "vscode"}));
        for (const char *id : old)
            QCOMPARE(modeIn(id), "full");
        QCOMPARE(TestEnv::readFile(state("codex-on")), "full_control");
        QCOMPARE(QFileInfo(ClientCatalogue::configPath("cline")).lastModified(), then);
        waitForScans(2); // the one it needed, the one after
        QVERIFY(m_outcomes.isEmpty() && m_resyncs.size() == 1);
    }

    // Mode changes that meet other work: each is applied once the model knows what the clients
    // hold, the last of several wins, and one summary covers changes that overlap.
    void modeChangeRaces()
    {
        for (const char *id : {"claude-desktop", "cursor"})
            writeEntry(id, "safe_edit");
        touch("codex-on", "safe_edit");
        open();

        // While Codex is being removed: waits for it and the rescan after; Codex is gone by then.
        touch("hold-codex-remove");
        m()->removeClient("codex");
        m_settings->setPermissionMode("full_control");
        QCOMPARE(problems("cursor"), "Registered with Safe Edit; Settings say Full Control");
        QVERIFY(!m()->isBusy("cursor"));
        release("hold-codex-remove");
        QTRY_COMPARE_WITH_TIMEOUT(m_resyncs, QStringList{"Full Control applied to 2 clients"}, 20000);
        QCOMPARE(m_outcomes, QStringList{"Codex removed"});
        waitForScans(3);
        QVERIFY(modeIn("cursor") == "full" && modeIn("claude-desktop") == "full" && count("codex", "<add>") == 0);

        // Two changes while Claude Code is being configured: back where it was, nothing to rewrite.
        const QDateTime then = backdate(ClientCatalogue::configPath("cursor"));
        touch("hold-claude-add");
        m()->configureClient("claude-code");
        m_settings->setPermissionMode("safe_edit");
        m_settings->setPermissionMode("full_control");
        release("hold-claude-add");
        QTRY_COMPARE_WITH_TIMEOUT(m_resyncs.size(), 2, 20000);
        QCOMPARE(m_resyncs.last(), "Full Control is already in use by every configured client");
        QCOMPARE(m_outcomes.last(), "Claude Code configured");
        QCOMPARE(QFileInfo(ClientCatalogue::configPath("cursor")).lastModified(), then);
        QCOMPARE(count("claude", "<add>"), 1);
        waitForScans(4);

        // A change while a re-sync runs: applied after it; one summary for both.
        touch("hold-claude-add");
        m_settings->setPermissionMode("safe_edit");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state("claude-add-running")), 20000);
        QVERIFY(m()->isBusy("claude-code"));
        m_settings->setPermissionMode("full_control");
        release("hold-claude-add");
        QTRY_COMPARE_WITH_TIMEOUT(m_resyncs.size(), 3, 20000);
        QCOMPARE(m_resyncs.last(), "Full Control applied to 3 clients");
        QCOMPARE(TestEnv::readFile(state("claude-on")), "full_control");
        QCOMPARE(count("claude", "<add>"), 3);
        waitForScans(6);

        // A failure names the client and why; the others are applied; the detail has the whole text.
        touch("claude-fail");
        m_settings->setPermissionMode("safe_edit");
        QTRY_COMPARE_WITH_TIMEOUT(m_resyncs.size(), 4, 20000);
        QCOMPARE(m_resyncs.last(), "Safe Edit could not be applied to Claude Code (claude: remove failed); "
                                   "Safe Edit applied to 2 clients");
        QCOMPARE(m_summaries.last().detail, "Claude Code: claude: remove failed");
        QCOMPARE(m_summaries.last().failed.keys(), QStringList{"claude-code"});
        QVERIFY(modeIn("cursor") == "safe" && modeIn("claude-desktop") == "safe");
        waitForScans(7);
        QCOMPARE(problems("claude-code"), "Registered with Full Control; Settings say Safe Edit");
        QCOMPARE(m_outcomes.size(), 2); // re-registrations have their summary, not outcomes of their own
    }

    // The server test starts the server as the clients do, in the current mode; its tool count is
    // kept for the pages. A failed or cancelled test keeps the last count.
    void serverTest()
    {
        m()->serverProbe()->setTimeLimit(20000);
        QSignalSpy finished(m(), &SetupModel::serverTestFinished);
        QSignalSpy changed(m(), &SetupModel::serverTestChanged);
        QVERIFY(FakeServer::serve());
        m_settings->setPermissionMode("full_control");
        m()->testServer();
        QVERIFY(m()->serverProbe()->isRunning() && changed.count() == 1);
        m()->testServer(); // one at a time
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 20000);
        QVERIFY(finished.at(0).at(0).value<ServerProbeResult>().success && changed.count() == 2);
        QCOMPARE(QJsonDocument::fromJson(TestEnv::readFile(TestEnv::root().path() + "/seen.json"))["mode"],
                 "full_control");
        QCOMPARE(m_settings->serverToolCount(), 3);

        // Under Wine the ended server's shim may be held a moment longer: rewriting it waits.
        QTRY_VERIFY_WITH_TIMEOUT(FakeServer::serve("exit 1"), 5000);
        m()->testServer();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(FakeServer::serve("sleep 60"), 5000);
        m()->testServer();
        m()->cancelServerTest();
        QCOMPARE(finished.count(), 3);
        QCOMPARE(finished.at(2).at(0).value<ServerProbeResult>().failure, ServerProbeResult::Failure::Cancelled);
        QCOMPARE(m_settings->serverToolCount(), 3);
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestSetupModel)
#include "tst_setupmodel.moc"
