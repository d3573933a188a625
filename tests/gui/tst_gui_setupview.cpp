#include "core/godotlocator.h"
#include "core/serverprobe.h"
#include "core/settings.h"
#include "core/setupmodel.h"
#include "fakes/fakecli.h"
#include "fakes/fakeserver.h"
#include "fixtures.h"
#include "gui/guitest.h"
#include "gui/setup/clientcard.h"
#include "gui/setup/servercard.h"
#include "gui/setup/setupview.h"
#include "gui/widgets/cardgrid.h"
#include "gui/widgets/elidedlabel.h"
#include "gui/widgets/theme.h"
#include "testenv.h"

#include <QtTest>
#include <QtWidgets>

// The PATH this process was started with: globals are set up before main() isolates the environment.
static const QString s_realPath = QString::fromLocal8Bit(qgetenv("PATH"));
// The uv installation help's first way, as the platform has it.
#ifdef Q_OS_WIN
static const QString s_uvInstall =
    R"(In PowerShell|powershell -ExecutionPolicy ByPass -c "irm https://astral.sh/uv/install.ps1 | iex")";
#else
static const QString s_uvInstall = "In a terminal|curl -LsSf https://astral.sh/uv/install.sh | sh";
#endif

// The Setup page as the user sees it: what it shows of the Setup model, what its buttons do, and
// that it changes in place, so that focus and scroll position stay where they are. The model's own
// rules (scans, races, re-sync) are tst_setupmodel's.
class TestSetupView : public QObject
{
    Q_OBJECT

    struct Page
    {
        Settings settings;
        SetupModel model{&settings};
        SetupView view{&model};
        QSignalSpy toasts{&view, &SetupView::showToast};
    };
    std::unique_ptr<Page> p;
    SetupView *v() const { return &p->view; }
    const QString m_state = TestEnv::root().path() + "/state", m_project = TestEnv::root().path() + "/project";

    QString state(const char *name) const { return m_state + '/' + name; }
    void touch(const char *name, const QByteArray &content = {}) const
    {
        QVERIFY(TestEnv::writeFile(state(name), content));
    }
    void release(const char *name) const { QFile::remove(state(name)); }
    int scans() const { return int(FakeCli::calls(m_state, "codex").count("<get>")); }
    static bool idle() { return SetupModel::workers()->waitForDone(30000); }
    // The workers' results delivered, and what those started as well.
    static void settle()
    {
        for (int i = 0; i < 3; ++i) {
            QVERIFY(idle());
            QCoreApplication::processEvents();
        }
    }
    void waitForScans(int scans) const
    {
        QTRY_COMPARE_WITH_TIMEOUT(this->scans(), scans, 20000);
        settle();
    }
    void open(bool scan = true) const
    {
        p->settings.setActiveProject(m_project);
        v()->refresh();
        if (scan)
            waitForScans(1);
    }
    static void writeEntry(const char *id, const QByteArray &entry, const char *servers = "mcpServers")
    {
        QVERIFY(TestEnv::writeFile(ClientCatalogue::configPath(id),
                                   "{\"" + QByteArray(servers) + "\":{\"tavrin\":" + entry + "}}"));
    }
    static QByteArray entry(const char *mode, const char *command = "\"uvx\",\"args\":[\"tavrin\"]")
    {
        return QByteArray("{\"command\":") + command + ",\"env\":{\"GODOT_MCP_PERMISSION_MODE\":\"" + mode + "\"}}";
    }
    // A page whose settings hold the mode from the start: a change of mode would re-register the
    // clients whose entries the test wrote.
    void startInMode(const char *mode)
    {
        p.reset();
        QVERIFY(TestEnv::writeFile(Settings::filePath(), QByteArray("{\"permission_mode\":\"") + mode + "\"}"));
        p = std::make_unique<Page>();
    }
    QScrollArea *area() const { return v()->findChild<QScrollArea *>(); }
    // The page without its Refresh and Check Again buttons, which refreshButton() looks at.
    QString page() const
    {
        return GuiTest::text(area()->widget()).remove(QRegularExpression("\\|\\[(Refresh|Check Again)(/off)?\\]"));
    }
    ClientCard *cardOf(const QString &id) const
    {
        for (ClientCard *card : v()->findChildren<ClientCard *>())
            if (card->clientId() == id)
                return card;
        return nullptr;
    }
    // One client's card, without its name.
    QString card(const char *id) const { return GuiTest::text(cardOf(id)).section('|', 1); }
    QPushButton *button(const QString &name) const { return GuiTest::find<QPushButton>(area()->widget(), name); }
    void click(const QString &name) const
    {
        QPushButton *b = button(name);
        QVERIFY2(b, qPrintable("no button " + name));
        QTest::mouseClick(b, Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(Fixtures::writeBundledAddon("9.8.7"));
        QVERIFY(!TestEnv::writeScript("uv", "echo 'uv 0.5.1'", "echo uv 0.5.1").isEmpty());
    }

    void init()
    {
        p.reset();
        QVERIFY(QDir(m_state).removeRecursively() && idle()); // releases every hold
        QVERIFY(FakeCli::write(m_state));
        TestEnv::removeTool("uvx"); // a server test's fake one
        QVERIFY(QDir(m_project).removeRecursively() && TestEnv::writeFile(m_project + "/project.godot", {}));
        // No settings, no client configuration; Claude Desktop and Cursor present, Windsurf and Cline absent.
        for (const QString &dir : {TestEnv::home(), TestEnv::dataHome(), TestEnv::configHome()})
            QVERIFY(QDir(dir).removeRecursively() && QDir().mkpath(dir));
        for (const char *id : {"claude-desktop", "cursor"})
            QVERIFY(QDir().mkpath(QFileInfo(ClientCatalogue::configPath(id)).absolutePath()));
        QVERIFY(TestEnv::writeFile(TestEnv::home() + "/.claude.json", "{}"));
        p = std::make_unique<Page>();
    }

    // The page shows the hint without a project, the placeholders until the first scan, then a card
    // per client (those hidden while absent named below), the server card and the prerequisites;
    // the addon card follows its operations, and uninstalling asks first.
    void showsTheModel()
    {
        touch("hold-get-1");
        v()->refresh();
        QCOMPARE(page(), "Setup|Select a project first from the Projects tab.");
        open(false);
        const QString head = "Setup|Project: " + m_project + "|ADDON|Tavrin Addon|";
        const QString server = "|MCP SERVER|Tavrin MCP Server|Not tested yet|[Test Server]|PREREQUISITES|";
        QCOMPARE(page(), head + "Not installed|[Install]|AI CLIENTS|Checking AI clients..." + server +
                             "Checking prerequisites...");
        release("hold-get-1");
        waitForScans(1);
        QCOMPARE(page(), head +
                             "Not installed|[Install]|AI CLIENTS|Claude Code|Detected|[Configure]|"
                             "Claude Desktop|Detected|[Configure]|Cursor|Detected|[Configure]|Windsurf|"
                             "Not installed|Install the client to configure.|Cline|Not installed|"
                             "Install the client to configure.|Codex|Detected|[Configure]|"
                             "Also supported, not installed: VS Code, GitHub Copilot CLI, Gemini CLI, Qwen "
                             "Code, opencode, Zed" +
                             server +
                             "Python|Install from python.org|uv|0.5.1|uvx|Comes with uv (the PyPI package named uvx "
                             "is a different program)|Your AI clients start the Tavrin server with uvx, which comes "
                             "with uv. Install uv, then click Check Again.|" +
                             s_uvInstall + "|[Copy]|With pipx|pipx install uv|[Copy]|[uv's installation guide]");

        const auto run = [&](const char *button, const char *toast, const QString &after) {
            click(button);
            QVERIFY2(page().contains("|Working...|AI CLIENTS|"), qPrintable(page()));
            QTRY_VERIFY_WITH_TIMEOUT(!p->toasts.isEmpty(), 20000);
            QCOMPARE(p->toasts.takeFirst(), (QVariantList{toast, 1}));
            QVERIFY2(page().startsWith(head + after + "|AI CLIENTS|"), qPrintable(page()));
        };
        QTRY_VERIFY(!p->model.godot()->isSearching());
        const QString enabled = "Installed v9.8.7|Enabled · Not running: open the project in Godot|No Godot 4 found: "
                                "choose it in Settings|[Open in Godot/off]|[Uninstall]";
        run("Install", "Addon installed", enabled);
        QTRY_VERIFY_WITH_TIMEOUT(!p->toasts.isEmpty(), 5000); // the plugin listed in project.godot too
        QCOMPARE(p->toasts.takeFirst(), (QVariantList{"Tavrin MCP enabled in project", 0}));
        // A plugin.cfg without the keys Godot's plugin list needs: Godot would not load it.
        const QString broken = "|Godot will not load it: res://addons/tavrin_mcp/plugin.cfg lacks name, author, "
                               "description, script in its [plugin] section.|No Godot 4 found: choose it in Settings|";
        const auto installed = [&](const char *version, const QString &shown) {
            QVERIFY(TestEnv::writeFile(m_project + "/addons/tavrin_mcp/plugin.cfg",
                                       QByteArray("[plugin]\nversion=\"") + version + "\"\n"));
            v()->refresh();
            settle(); // the plugin chain is read off this thread
            QVERIFY2(page().startsWith(head + "Installed v" + version + shown), qPrintable(page()));
        };
        installed("10.0", " (newer than this app's v9.8.7)" + broken + "[Uninstall]|");
        installed("0.0.1", " (update available: v9.8.7)" + broken + "[Update]|[Uninstall]|");
        run("Update", "Addon updated to v9.8.7", enabled);

        // Uninstall asks first, Cancel being the default; only the destructive answer deletes.
        for (const bool confirm : {false, true}) {
            click("Uninstall");
            QMessageBox *box = nullptr;
            QTRY_VERIFY((box = GuiTest::shownWindow<QMessageBox>()));
            QVERIFY(box->informativeText().contains("addons/tavrin_mcp folder will be deleted, including any files "
                                                    "changed or added there"));
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Cancel));
            (confirm ? GuiTest::find<QPushButton>(box, "Uninstall") : box->defaultButton())->click();
            QTRY_VERIFY(!GuiTest::shownWindow<QMessageBox>());
            if (!confirm)
                QVERIFY(page().startsWith(head + enabled + "|") && p->toasts.isEmpty());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!p->toasts.isEmpty(), 20000);
        QCOMPARE(p->toasts.takeFirst(), (QVariantList{"Addon uninstalled", 1}));
        QVERIFY(page().startsWith(head + "Not installed|[Install]|"));
    }

    // A failure is shown in a box that does not block, then as an error toast; the card stays usable.
    // A file refused as unparsable is left as it was, and the box leads to it.
    void failureShowsBoxThenErrorToast_data()
    {
        QTest::addColumn<QStringList>("row"); // button, message box (its start), the Cursor file's bytes
        QTest::newRow("addon") << QStringList{"Install",
                                              "Installing the addon failed: Godot project not found: " + m_project};
        QTest::newRow("unparsable file") << QStringList{
            "Configure Cursor",
            "Configuration of Cursor failed: " + ClientCatalogue::configPath("cursor") +
                " was left unchanged because its content is not a JSON object (a comma after the last "
                "item, which JSON does not allow, at line 1, column 18)",
            R"({"mcpServers": {},})"};
    }
    void failureShowsBoxThenErrorToast()
    {
        QFETCH(QStringList, row);
        QVERIFY(QFile::remove(m_project + "/project.godot"));
        const QString cursor = ClientCatalogue::configPath("cursor");
        if (row.size() > 2)
            QVERIFY(TestEnv::writeFile(cursor, row.at(2).toUtf8()));
        open();
        const QString before = page();
        click(row.at(0));
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QCOMPARE(p->toasts.at(0), (QVariantList{row.at(1).section(':', 0, 0), 2}));
        const QList<QMessageBox *> boxes = v()->findChildren<QMessageBox *>();
        QVERIFY(boxes.size() == 1 && boxes.at(0)->isVisible() && boxes.at(0)->windowModality() == Qt::NonModal);
        QVERIFY2((boxes.at(0)->windowTitle() + ": " + boxes.at(0)->text()).startsWith(row.at(1)),
                 qPrintable(boxes.at(0)->text()));
        QCOMPARE(GuiTest::find(boxes.at(0), "Open Config File") != nullptr, row.size() > 2);
        if (row.size() > 2)
            QCOMPARE(TestEnv::readFile(cursor), row.at(2).toUtf8());
        waitForScans(row.at(0) == "Install" ? 1 : 2);
        QCOMPARE(page(), before);
    }

    // What each entry holds decides the badge and its tool tip; Update rewrites it, as Configure does.
    void entryTruth_data()
    {
        QTest::addColumn<QString>("client");
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("before"); // badge<tool tip>|mode, before the Update and Remove buttons
        using TestEnv::row;
        // The mode the entry holds is written under the badge.
        const QString settings = "; Settings say Full Control>";
        row("old mode", "cursor", entry("safe_edit"),
            "Needs update<Registered with Safe Edit" + settings + "|Safe Edit");
        row("another command", "cursor", entry("full_control", "\"node\",\"args\":[\"server.js\"]"),
            "Needs update<Starts “node server.js” instead of “uvx tavrin”>|Full Control");
        row("both, no args", "cursor", entry("yolo", "\"uvx\""),
            "Needs update<Starts “uvx” instead of “uvx tavrin”\nRegistered with “yolo”" + settings + "|“yolo”");
        row("no mode", "cursor", QByteArray(R"({"command":"uvx","args":["tavrin"]})"),
            "Needs update<Registered without a permission mode" + settings);
        row("not an object", "cursor", QByteArray("null"), "Needs update<The entry is not an object>");
        // A client without a card of its own while absent gets one once configured, comments and all.
        row("VS Code", "vscode", "// mine\n{\"type\":\"stdio\"," + entry("safe_edit").mid(1),
            "Needs update<Registered with Safe Edit" + settings + "|Safe Edit");
    }
    void entryTruth()
    {
        QFETCH(QString, client);
        QFETCH(QByteArray, entry);
        QFETCH(QString, before);
        const QByteArray id = client.toUtf8();
        writeEntry(id, entry, client == "cursor" ? "mcpServers" : "servers");
        startInMode("full_control");
        open();
        QCOMPARE(card(id), before + "|[Update]|[Remove]");
        QCOMPARE(page().contains("not installed: VS Code"), client != "vscode");
        const QString name = ClientCatalogue::find(client)->name;
        click("Update " + name);
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QCOMPARE(p->toasts.at(0), (QVariantList{name + " updated", 1}));
        waitForScans(2);
        QCOMPARE(card(id), "Configured|Full Control|[Remove]");
    }

    // Operations, rescans and a mode change leave every widget where it was: the same cards, the
    // focus on the same button, the page scrolled as far as it was. Another project starts at the
    // top of the page, where its name and addon are.
    void updatesInPlace()
    {
        writeEntry("cursor", entry("safe_edit"));
        v()->resize(700, 300);
        v()->show();
        QApplication::setActiveWindow(v());
        QVERIFY(QTest::qWaitForWindowActive(v()));
        open();
        const QList<QWidget *> before = v()->findChildren<QWidget *>();
        QTRY_VERIFY(area()->verticalScrollBar()->maximum() > 400);
        const int middle = area()->verticalScrollBar()->maximum() / 2;
        area()->verticalScrollBar()->setValue(middle);
        QPushButton *remove = button("Remove Cursor");
        remove->setFocus();
        QTRY_VERIFY(remove->hasFocus());

        p->settings.setPermissionMode("full_control"); // re-registers Cursor
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QCOMPARE(p->toasts.at(0), (QVariantList{"Full Control applied to Cursor", 1}));
        click("Configure Claude Desktop");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 2, 20000);
        remove->setFocus();
        v()->refresh();
        waitForScans(3);
        QCOMPARE(card("cursor"), "Configured|Full Control|[Remove]");
        QCOMPARE(v()->findChildren<QWidget *>(), before);
        QCOMPARE(QApplication::focusWidget(), remove);
        QCOMPARE(area()->verticalScrollBar()->value(), middle);
        const QString other = m_project + "-other";
        QVERIFY(TestEnv::writeFile(other + "/project.godot", {}));
        const auto gone = qScopeGuard([other] { QDir(other).removeRecursively(); });
        p->settings.setActiveProject(other);
        QCOMPARE(area()->verticalScrollBar()->value(), 0);
        QVERIFY(page().contains("Project: " + other));
    }

    // A hand edit shows after Refresh, however recent the last scan; the button rests while a scan runs.
    void refreshButton()
    {
        open();
        QPushButton *refresh = v()->findChild<QPushButton *>("setupRefresh");
        QVERIFY(!refresh->isHidden() && refresh->isEnabled());
        writeEntry("cursor", entry("safe_edit"));
        touch("hold-get-2");
        QTest::mouseClick(refresh, Qt::LeftButton);
        QVERIFY(!refresh->isEnabled());
        QCOMPARE(card("cursor"), "Detected|[Configure]");
        release("hold-get-2");
        waitForScans(2);
        QVERIFY(refresh->isEnabled());
        QCOMPARE(card("cursor"), "Configured|Safe Edit|[Remove]");
        // After installing uv from the help's command, Check Again scans as well.
        click("Copy pipx install uv");
        QCOMPARE(QGuiApplication::clipboard()->text(), "pipx install uv");
        QVERIFY(!TestEnv::writeScript("uvx", "echo 'uvx 0.5.1'", "echo uvx 0.5.1").isEmpty());
        click("Check Again");
        waitForScans(3);
        QVERIFY2(page().endsWith("|uv|0.5.1|uvx|0.5.1"), qPrintable(page())); // and no more help
    }

    // The server card follows a test as it runs: the time, uv's last line, then what it found; a
    // passed or failed test is also a toast, a cancelled one is not.
    void serverTest()
    {
        open();
        p->model.serverProbe()->setTimeLimit(20000);
        const auto server = [&] { return GuiTest::text(v()->findChild<ServerCard *>()); };
        const QString hold = TestEnv::root().path() + "/hold";
        QVERIFY(TestEnv::writeFile(hold, {}));
        QVERIFY(FakeServer::serve("stderr Resolving\nstderr Downloading cpython (1.0MiB)\nhold\nserve"));
        click("Test Server");
        QCOMPARE(server(), "Tavrin MCP Server|Starting “uvx tavrin”… 0 s|[Cancel]");
        QTRY_VERIFY_WITH_TIMEOUT(server().contains("… 1 s|Downloading cpython (1.0MiB)|[Cancel]"), 10000);
        QVERIFY(QFile::remove(hold));
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QCOMPARE(p->toasts.at(0), (QVariantList{"Server test passed", 1}));
        const QRegularExpression passed("^Tavrin MCP Server\\|Started in (under 0\\.1|[0-9.]+) s · 3 tools · protocol "
                                        "2025-11-25 · tavrin 1\\.2\\.0\\|\\[Test Server\\]$");
        QVERIFY2(server().contains(passed), qPrintable(server()));

        // Under Wine the ended server's shim may be held a moment longer: rewriting it waits.
        QTRY_VERIFY_WITH_TIMEOUT(FakeServer::serve("stderr boom: no Godot editor\nexit 1"), 5000);
        click("Test Server");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 2, 20000);
        QCOMPARE(p->toasts.at(1), (QVariantList{"Server test failed", 2}));
        QVERIFY2(server().contains("boom: no Godot editor") && server().endsWith("[Test Server]"),
                 qPrintable(server()));

        QTRY_VERIFY_WITH_TIMEOUT(FakeServer::serve("sleep 60"), 5000);
        click("Test Server");
        click("Cancel");
        QTRY_COMPARE(server(), "Tavrin MCP Server|The server test was cancelled.|[Test Server]");
        QCOMPARE(p->toasts.count(), 2);
    }

    // A slow first start names the clients that give a server less time than it took.
    void slowStartNote_data()
    {
        QTest::addColumn<bool>("success");
        QTest::addColumn<int>("firstAnswerMs");
        QTest::addColumn<QString>("waits"); // empty: no note
        QTest::newRow("quick") << true << 10000 << QString();
        QTest::newRow("slower than Codex waits") << true << 12400 << "Claude Desktop about 5 s, Codex about 10 s";
        QTest::newRow("slower than Claude Code waits")
            << true << 45600 << "Claude Code about 30 s, Claude Desktop about 5 s, Codex about 10 s";
        QTest::newRow("failed") << false << 45600 << QString();
    }
    void slowStartNote()
    {
        QFETCH(bool, success);
        QFETCH(int, firstAnswerMs);
        QFETCH(QString, waits);
        ServerProbeResult result;
        result.success = success;
        result.firstAnswerMs = firstAnswerMs;
        result.message = "the probe's line";
        QStringList expected{"the probe's line"};
        if (!waits.isEmpty())
            expected << "Clients that wait less long for a server to start (" + waits +
                            ") may have failed to start it before; now that uv has it, they will start it quickly.";
        QCOMPARE(ServerCard::describe(result), expected);
    }

    // A 200-character path, cards with two buttons: at the smallest window's width and narrower every
    // button stays in view, nothing scrolls sideways, the grid has fewer columns; icons match the dpr.
    void layoutAtAnyWidth_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("columns");
        QTest::newRow("smallest window") << 960 - 220 << 3;
        QTest::newRow("narrower") << 560 << 2;
        QTest::newRow("narrowest") << 420 << 1; // the smallest window at 200 % on a 1280 x 720 screen
    }
    void layoutAtAnyWidth()
    {
        QFETCH(int, width);
        QFETCH(int, columns);
        qApp->setStyleSheet(Theme::styleSheet()); // its paddings and scroll bar count here
        const auto plain = qScopeGuard([] { qApp->setStyleSheet({}); });
        QString project = m_project + '/';
        project += QString(200 - project.size(), 'x');
        QVERIFY(TestEnv::writeFile(project + "/addons/tavrin_mcp/plugin.cfg", "[plugin]\nversion=\"0.1\"\n"));
        for (const char *id : {"claude-desktop", "cursor"})
            writeEntry(id, entry("safe_edit"));
        startInMode("full_control");
        p->settings.setActiveProject(project);
        v()->resize(width, 640);
        v()->show();
        QVERIFY(QTest::qWaitForWindowExposed(v()));
        v()->refresh();
        waitForScans(1);
        QVERIFY(page().contains("[Update]|[Uninstall]") && page().contains("Cursor|Needs update"));
        auto *grid = area()->widget()->findChild<CardGrid *>();
        QTRY_COMPARE(grid->columnCount(), columns);
        QTRY_VERIFY(grid->height() >= grid->minimumSizeHint().height()); // laid out for those columns
        QTRY_VERIFY(area()->widget()->width() <= area()->viewport()->width());
        const auto outOfView = [&] {
            QStringList out;
            for (QPushButton *button : area()->widget()->findChildren<QPushButton *>()) {
                const QRect r(button->mapTo(area()->viewport(), QPoint()), button->size());
                if (button->isVisible() && (r.left() < 0 || r.right() >= area()->viewport()->width()))
                    out << button->text();
            }
            return out;
        };
        QTRY_COMPARE(outOfView(), QStringList());
        auto *path = area()->widget()->findChild<ElidedLabel *>("projectPath");
        QVERIFY(path->isElided() && path->toolTip() == project && path->text().endsWith("xxx"));
        for (QLabel *label : area()->widget()->findChildren<QLabel *>())
            if (!label->pixmap().isNull())
                QCOMPARE(label->pixmap().devicePixelRatio(), v()->devicePixelRatioF());
    }

    // Tab goes through the page's buttons in reading order, with nothing unseen between them. While
    // a card's operation runs its card holds the focus and its "⋯" is disabled; afterwards the focus
    // is on the card's button again.
    void keyboard()
    {
        open();
        v()->resize(900, 1400);
        v()->show();
        QApplication::setActiveWindow(v());
        QVERIFY(QTest::qWaitForWindowActive(v()));
        const QList<QWidget *> stops = GuiTest::tabStops(v());
        // Refresh, Install, "⋯" and Configure of the four installed clients, Test Server, Check Again, and
        // with uvx missing the two Copy buttons and the link of uv's installation help.
        QCOMPARE(stops.size(), 2 + 4 * 2 + 2 + 3);
        stops.first()->setFocus();
        QPoint last(-1, -1);
        for (QWidget *stop : stops) {
            QCOMPARE(QApplication::focusWidget(), stop);
            // A client card's stops go together; cards in reading order.
            QWidget *card = qobject_cast<ClientCard *>(stop->parentWidget());
            const QPoint at = (card ? card : stop)->mapTo(v(), QPoint());
            QVERIFY(qobject_cast<QAbstractButton *>(stop) && stop->isVisible());
            QVERIFY(at == last || at.y() > last.y() + 8 || (qAbs(at.y() - last.y()) <= 8 && at.x() > last.x()));
            last = at;
            QTest::keyClick(stop, Qt::Key_Tab);
        }

        const auto press = [&](const QString &name) {
            QPushButton *target = button(name);
            QVERIFY2(target, qPrintable(name));
            target->setFocus();
            QTRY_VERIFY(target->hasFocus());
            QTest::keyClick(target, Qt::Key_Space);
        };
        touch("hold-codex-add");
        press("Configure Codex");
        QCOMPARE(QApplication::focusWidget(), cardOf("codex"));
        QVERIFY(!cardOf("codex")->findChild<QToolButton *>("clientMore")->isEnabled());
        release("hold-codex-add");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QCOMPARE(QApplication::focusWidget(), button("Remove Codex"));
        QVERIFY(cardOf("codex")->findChild<QToolButton *>("clientMore")->isEnabled());
        waitForScans(2);
        press("Install");
        QCOMPARE(QApplication::focusWidget()->objectName(), "addonCard");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 3, 20000); // installed, and enabled in project.godot
        QCOMPARE(QApplication::focusWidget(), button("Uninstall"));
    }

    // With the real claude and codex: registered in Safe Edit, the cards say "Needs update" once
    // the mode is Full Control, and "Configured" after the re-sync, which the tools confirm.
    void realClisNeedUpdateThenConfigured()
    {
        const QString bin = qEnvironmentVariable("TAVRIN_CLI_CACHE") + "/node_modules/.bin";
        const QString node = QStandardPaths::findExecutable("node", s_realPath.split(':'));
        if (node.isEmpty() || !QFileInfo::exists(bin + "/claude") || !QFileInfo::exists(bin + "/codex"))
            QSKIP("npm or the installed CLIs are missing (scripts/test.sh installs them)");
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([path] { qputenv("PATH", path); });
        QVERIFY(TestEnv::removeTool("claude") && TestEnv::removeTool("codex"));
        qputenv("PATH", (bin + ':' + QFileInfo(node).absolutePath() + ':' + TestEnv::binDir()).toUtf8());
        qputenv("CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC", "1");
        open(false);
        QTRY_VERIFY_WITH_TIMEOUT(button("Configure Codex") && button("Configure Claude Code"), 60000);
        click("Configure Claude Code");
        click("Configure Codex");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 2, 120000);
        settle();
        // Busy with the re-sync the change starts, the cards say what it is for.
        const QString stale =
            "Needs update<Registered with Safe Edit; Settings say Full Control>|Safe Edit|[Working.../off]";
        p->settings.setPermissionMode("full_control");
        QCOMPARE(card("claude-code"), stale);
        QCOMPARE(card("codex"), stale);
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 3, 120000);
        QCOMPARE(p->toasts.at(2), (QVariantList{"Full Control applied to 2 clients", 1}));
        settle();
        QCOMPARE(card("claude-code"), "Configured|Full Control|[Remove]");
        QCOMPARE(card("codex"), "Configured|Full Control|[Remove]");
        for (const ClientInfo &info : Clients().detect())
            if (info.usesCli)
                QVERIFY2(Clients::entryProblems(info, "full_control").isEmpty() && info.mode == "full_control",
                         qPrintable(info.id));
    }
};

TAVRIN_TEST_MAIN(TestSetupView)
#include "tst_gui_setupview.moc"
