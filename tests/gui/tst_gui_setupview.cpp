#include "testenv.h"

#include "core/addon.h"
#include "core/serverprobe.h"
#include "core/settings.h"
#include "gui/mainwindow.h"
#include "gui/settingsview.h"
#include "gui/setup/clientcard.h"
#include "gui/setup/clientmenu.h"
#include "gui/setup/servercard.h"
#include "gui/setup/setupview.h"
#include "gui/widgets/cardgrid.h"
#include "gui/widgets/elidedlabel.h"
#include "gui/widgets/focuskeeper.h"
#include "gui/widgets/theme.h"
#include "gui/widgets/toast.h"

#include <QtTest>
#include <QtWidgets>

using Toasts = QList<QVariantList>;

// The PATH this process was started with: globals are set up before main() isolates the environment.
static const QString s_realPath = QString::fromLocal8Bit(qgetenv("PATH"));

// Drives the real Setup page against fake client tools that log every call and can be held at a
// marker file, so that a scan or an operation stays in flight exactly as long as a test needs.
class TestSetupView : public QObject
{
    Q_OBJECT

    struct Page
    {
        Settings settings;
        Addon addon;
        Clients clients;
        Prereqs prereqs;
        std::unique_ptr<SetupView> view{new SetupView(&settings, &addon, &clients, &prereqs)};
        QSignalSpy toasts{view.get(), &SetupView::showToast};
    };
    std::unique_ptr<Page> p;
    SetupView *v() const { return p->view.get(); }
    const QString m_state = TestEnv::root().path() + "/state", m_project = TestEnv::root().path() + "/project";

    QString state(const char *name) const { return m_state + '/' + name; }
    void touch(const char *name, const QByteArray &content = {}) const
    {
        QVERIFY(TestEnv::writeFile(state(name), content));
    }
    void release(const char *name) const { QFile::remove(state(name)); }
    int count(const char *word) const { return int(TestEnv::readFile(state("calls.log")).split('\n').count(word)); }
    static bool idle() { return QThreadPool::globalInstance()->waitForDone(30000); }
    void waitForScans(int scans) const
    {
        QTRY_COMPARE_WITH_TIMEOUT(count("get"), scans, 20000);
        QVERIFY(idle());
        QCoreApplication::processEvents();
        QVERIFY(idle());
    }
    void open(bool scan = true) const
    {
        p->settings.setActiveProject(m_project);
        v()->refresh();
        if (scan)
            waitForScans(1);
    }
    // A JSON client's file holding our entry as given.
    static void writeEntry(const char *id, const QByteArray &entry, const char *servers = "mcpServers")
    {
        QVERIFY(TestEnv::writeFile(Clients::configPathFor(id),
                                   "{\"" + QByteArray(servers) + "\":{\"tavrin\":" + entry + "}}"));
    }
    static QByteArray entry(const char *mode, const char *command = "\"uvx\",\"args\":[\"tavrin\"]")
    {
        return QByteArray("{\"command\":") + command + ",\"env\":{\"GODOT_MCP_PERMISSION_MODE\":\"" + mode + "\"}}";
    }
    // A file's modification time set a day back, so that a rewrite shows.
    static QDateTime backdate(const QString &path)
    {
        const QDateTime then = QDateTime::currentDateTime().addDays(-1);
        QFile file(path);
        const bool set = file.open(QIODevice::ReadWrite) && file.setFileTime(then, QFileDevice::FileModificationTime);
        return set ? then : QDateTime();
    }
    static QString modeIn(const char *id)
    {
        const QByteArray text = TestEnv::readFile(Clients::configPathFor(id));
        return text.contains("full_control") ? "full" : text.contains("safe_edit") ? "safe" : "none";
    }
    QScrollArea *area() const { return v()->findChildren<QScrollArea *>(QString(), Qt::FindDirectChildrenOnly).last(); }
    // A part of the page as text, in order: labels (a badge's tool tip in <>), and buttons in
    // brackets ("/off" when disabled).
    static QString text(QWidget *root)
    {
        QStringList parts;
        for (QWidget *w : root->findChildren<QWidget *>()) {
            if (auto *elided = qobject_cast<ElidedLabel *>(w))
                parts << elided->fullText();
            else if (auto *label = qobject_cast<QLabel *>(w); label && !label->text().isEmpty())
                parts << label->text() + (label->toolTip().isEmpty() || label->objectName() != "clientBadge"
                                              ? QString()
                                              : '<' + label->toolTip() + '>');
            else if (auto *button = qobject_cast<QPushButton *>(w))
                parts << '[' + button->text() + (button->isEnabled() ? "]" : "/off]");
        }
        return parts.join('|');
    }
    QString page() const { return text(area()->widget()); }
    // One client's card, without its name.
    QString card(const QString &name) const
    {
        for (ClientCard *card : area()->widget()->findChildren<ClientCard *>())
            if (card->findChild<QLabel *>("clientName")->text() == name)
                return text(card).section('|', 1);
        return {};
    }
    // Client buttons by accessible name, others by text.
    QPushButton *button(const QString &name) const
    {
        for (QPushButton *button : area()->widget()->findChildren<QPushButton *>())
            if (button->accessibleName() == name || button->text() == name)
                return button;
        return nullptr;
    }
    void click(const QString &name) const
    {
        QPushButton *b = button(name);
        QVERIFY2(b, qPrintable("no button " + name));
        QTest::mouseClick(b, Qt::LeftButton);
    }
    static QMessageBox *topLevelBox()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                return box;
        return nullptr;
    }
    static void writeServer(const QByteArray &body)
    {
        // A legacy MCP server in a few lines: answers initialize, then lists three tools.
        const QByteArray prelude = "#!/usr/bin/python3\n"
                                   R"PY(
import json, os, sys, time
def recv(): return json.loads(sys.stdin.readline() or sys.exit(0))
def send(msg, res): print(json.dumps({"jsonrpc": "2.0", "id": msg["id"], "result": res}), flush=True)
def serve():
    send(recv(), {"protocolVersion": "2025-11-25", "capabilities": {"tools": {}},
                  "serverInfo": {"name": "tavrin", "version": "1.2.0"}})
    recv()
    send(recv(), {"tools": [{"name": "t%d" % i, "inputSchema": {"type": "object"}} for i in range(3)]})
    sys.stdin.read()
)PY";
        QVERIFY(!TestEnv::writeTool("uvx", {}).isEmpty());
        QVERIFY(TestEnv::writeFile(TestEnv::binDir() + "/uvx", prelude + body + '\n'));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::writeFile(qApp->applicationDirPath() + "/bundled_addon/plugin.cfg", "version=9.8.7"));
        QVERIFY(!TestEnv::writeTool("uv", "echo 'uv 0.5.1'").isEmpty());
        // Only Codex answers "get" (Claude Code's detection reads ~/.claude.json). It comes last of
        // the scanned tools, so "hold-get-<n>" holds the n-th scan after the files were read. A
        // registered tool keeps the mode it was given in "<tool>-on".
        const QByteArray fake = "S=" + m_state.toUtf8() + R"sh(; L=$S/calls.log; N=${0##*/}
hold() { i=0; while [ -e $S/$1 ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; }
E() { printf '{"command":"uvx","args":["tavrin"],"env":{"GODOT_MCP_PERMISSION_MODE":"%s"}}' "$1"; }
if [ "$2" = get ]; then ls $S/*-running >/dev/null 2>&1 && echo busy >> $L; echo get >> $L
  hold hold-get-$(grep -c ^get $L); [ -e $S/codex-on ] || exit 1
  printf '{"name":"tavrin","transport":%s}' "$(E "$(cat $S/codex-on)")"; exit 0; fi
echo $N-$2 >> $L; touch $S/$N-$2-running; hold hold-$N-$2; rm $S/$N-$2-running
[ -e $S/$N-fail ] && echo "  $N: $2 failed  " && exit 1
M=; for a; do case $a in GODOT_MCP_PERMISSION_MODE=*) M=${a#*=};; esac; done
[ $2 = add ] && printf %s "$M" > $S/$N-on || rm -f $S/$N-on
[ $N$2 = claudeadd ] && printf '{"mcpServers":{"tavrin":%s}}' "$(E "$M")" > $HOME/.claude.json
[ $N$2 = clauderemove ] && echo '{}' > $HOME/.claude.json; exit 0)sh";
        for (const char *tool : {"claude", "codex"})
            QVERIFY(!TestEnv::writeTool(tool, fake).isEmpty());
    }

    void init()
    {
        QVERIFY(QDir(m_state).removeRecursively() && idle() && QDir().mkpath(m_state)); // releases every hold
        p.reset();
        QVERIFY(QDir(m_project).removeRecursively() && TestEnv::writeFile(m_project + "/project.godot", {}));
        // No settings, no client configuration; Claude Desktop and Cursor present, Windsurf and Cline absent.
        for (const QString &dir : {TestEnv::home(), TestEnv::dataHome(), TestEnv::configHome()})
            QVERIFY(QDir(dir).removeRecursively() && QDir().mkpath(dir));
        for (const char *id : {"claude-desktop", "cursor"})
            QVERIFY(QDir().mkpath(QFileInfo(Clients::configPathFor(id)).absolutePath()));
        QVERIFY(TestEnv::writeFile(TestEnv::home() + "/.claude.json", "{}"));
        p = std::make_unique<Page>();
    }

    void placeholdersThenAddonCard()
    {
        // Without a project only the hint shows, but the scan runs and its result is kept.
        touch("hold-get-1");
        v()->refresh();
        QTRY_COMPARE_WITH_TIMEOUT(count("get"), 1, 20000);
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
                             server + "Python|Install from python.org|uv|0.5.1|uvx|Comes with uv");

        const auto run = [&](const char *button, const char *toast, const char *after) {
            click(button);
            // Rebuilt at once: "Working..." instead of any button, until the worker reports back.
            QVERIFY2(page().contains("|Working...|AI CLIENTS|"), qPrintable(page()));
            QTRY_VERIFY_WITH_TIMEOUT(!p->toasts.isEmpty(), 20000);
            QCOMPARE(p->toasts.takeFirst(), (QVariantList{toast, 1}));
            QVERIFY2(page().startsWith(head + after + "|AI CLIENTS|"), qPrintable(page()));
        };
        run("Install", "Addon installed", "Installed v9.8.7|[Uninstall]");
        const auto installed = [&](const char *version) {
            QVERIFY(TestEnv::writeFile(m_project + "/addons/tavrin_mcp/plugin.cfg",
                                       QByteArray("[plugin]\nversion=\"") + version + "\"\n"));
            v()->refresh();
        };
        installed("10.0");
        QVERIFY2(page().startsWith(head + "Installed v10.0 (newer than this app's v9.8.7)|[Uninstall]|"),
                 qPrintable(page()));
        installed("0.0.1");
        QVERIFY(page().startsWith(head + "Installed v0.0.1 (update available: v9.8.7)|[Update]|[Uninstall]|"));
        run("Update", "Addon updated to v9.8.7", "Installed v9.8.7|[Uninstall]");

        // Uninstall asks first, Cancel being the default; only the destructive answer deletes.
        for (const bool confirm : {false, true}) {
            click("Uninstall");
            QMessageBox *box = nullptr;
            QTRY_VERIFY((box = topLevelBox()));
            QVERIFY(box->informativeText().contains("addons/tavrin_mcp folder will be deleted, including any files "
                                                    "changed or added there"));
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Cancel));
            if (!confirm) {
                box->defaultButton()->click();
                QTRY_VERIFY(!topLevelBox());
                QVERIFY(page().startsWith(head + "Installed v9.8.7|[Uninstall]|") && p->toasts.isEmpty());
                continue;
            }
            for (QAbstractButton *answer : box->buttons())
                if (answer->text() == "Uninstall")
                    answer->click();
            QTRY_VERIFY_WITH_TIMEOUT(!p->toasts.isEmpty(), 20000);
            QCOMPARE(p->toasts.takeFirst(), (QVariantList{"Addon uninstalled", 1}));
        }
        QVERIFY(page().startsWith(head + "Not installed|[Install]|"));
        QVERIFY(!QFileInfo::exists(m_project + "/addons/tavrin_mcp") && idle());
        QCOMPARE(count("get"), 1); // neither addon work nor a refresh within a minute scans
    }

    void failureShowsBoxThenErrorToast_data()
    {
        QTest::addColumn<QStringList>("row"); // button, message box, toast
        QTest::newRow("write") << QStringList{"Configure Codex", "Configuration of Codex failed: codex: add failed"};
        QTest::newRow("update") << QStringList{"Update Codex", "Configuration of Codex failed: codex: add failed"};
        QTest::newRow("remove") << QStringList{"Remove Codex", "Removal from Codex failed: codex: remove failed"};
        QTest::newRow("addon") << QStringList{"Install",
                                              "Installing the addon failed: Godot project not found: " + m_project};
    }

    void failureShowsBoxThenErrorToast()
    {
        QFETCH(QStringList, row);
        touch("codex-fail");
        if (row.at(0).startsWith("Remove"))
            touch("codex-on", "safe_edit");
        if (row.at(0).startsWith("Update"))
            touch("codex-on", "full_control");
        QVERIFY(QFile::remove(m_project + "/project.godot"));
        open();
        const QString before = page();
        click(row.at(0));
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QCOMPARE(p->toasts.at(0), (QVariantList{row.at(1).section(':', 0, 0), 2}));
        const QList<QMessageBox *> boxes = v()->findChildren<QMessageBox *>();
        QVERIFY(boxes.size() == 1 && boxes.at(0)->isVisible() && boxes.at(0)->windowModality() == Qt::NonModal);
        QCOMPARE(boxes.at(0)->windowTitle() + ": " + boxes.at(0)->text(), row.at(1));
        // The card is usable again and keeps its state; a client failure still rescans.
        waitForScans(row.at(0) == "Install" ? 1 : 2);
        QCOMPARE(page(), before);
    }

    // What each entry holds decides the badge; Update rewrites it, the same as Configure.
    void entryTruth_data()
    {
        QTest::addColumn<QString>("client");
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("before"); // badge<tool tip>|buttons
        const auto row = [](const char *tag, const char *client, const QByteArray &entry, const QString &before) {
            QTest::newRow(tag) << client << entry << before;
        };
        const QString update = "|[Update]|[Remove]", settings = "; Settings say Full Control>" + update;
        row("up to date", "Cursor", entry("full_control"), "Configured|[Remove]");
        row("old mode", "Cursor", entry("safe_edit"), "Needs update<Registered with Safe Edit" + settings);
        row("another command", "Cursor", entry("full_control", "\"node\",\"args\":[\"server.js\"]"),
            "Needs update<Starts “node server.js” instead of “uvx tavrin”>" + update);
        row("both, no args", "Cursor", entry("yolo", "\"uvx\""),
            "Needs update<Starts “uvx” instead of “uvx tavrin”\nRegistered with “yolo”" + settings);
        row("no mode", "Cursor", R"({"command":"uvx","args":["tavrin"]})",
            "Needs update<Registered without a permission mode" + settings);
        row("not an object", "Cursor", "null", "Needs update<The entry is not an object>" + update);
        // A client without a card of its own while absent gets one once configured, comments and all.
        row("VS Code", "VS Code", "// mine\n{\"type\":\"stdio\"," + entry("safe_edit").mid(1),
            "Needs update<Registered with Safe Edit" + settings);
    }

    void entryTruth()
    {
        QFETCH(QString, client);
        QFETCH(QByteArray, entry);
        QFETCH(QString, before);
        const char *id = client == "Cursor" ? "cursor" : "vscode";
        writeEntry(id, entry, client == "Cursor" ? "mcpServers" : "servers");
        p->settings.setPermissionMode("full_control");
        open();
        QCOMPARE(card(client), before);
        QCOMPARE(page().contains("not installed: VS Code"), client != "VS Code");
        if (!before.contains("[Update]"))
            return;
        click("Update " + client);
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QCOMPARE(p->toasts.at(0), (QVariantList{client + " updated", 1}));
        waitForScans(2);
        QCOMPARE(card(client), "Configured|[Remove]");
        QCOMPARE(modeIn(id), "full");
        QVERIFY(TestEnv::readFile(Clients::configPathFor(id)).startsWith(client == "VS Code" ? "{\"servers\"" : "{"));
    }

    void clientOperationsAndRescans()
    {
        open();
        // Configuring Claude Desktop starts a rescan, held after it read Cursor's folder; configuring
        // Cursor meanwhile makes it stale. Released, it is thrown away and a fresh scan runs at once.
        touch("hold-get-2");
        click("Configure Claude Desktop");
        QTRY_COMPARE_WITH_TIMEOUT(count("get"), 2, 20000);
        click("Configure Cursor");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 2, 20000);
        release("hold-get-2");
        waitForScans(3);
        QVERIFY(page().contains("|Claude Desktop|Configured|[Remove]|Cursor|Configured|[Remove]|"));

        // Two operations at once: each its own busy card, one toast each, one rescan after the last.
        touch("hold-claude-add");
        touch("hold-codex-add");
        click("Configure Claude Code");
        click("Configure Codex");
        QVERIFY(page().contains("|Claude Code|Detected|[Working.../off]|Claude Desktop|Configured|[Remove]|"));
        QTRY_VERIFY(QFile::exists(state("claude-add-running")) && QFile::exists(state("codex-add-running")));
        // Qt's parallel image work shares the global pool: held workers must not make the GUI thread wait.
        QImage big(2048, 2048, QImage::Format_ARGB32);
        big.fill(Qt::red);
        QCOMPARE(big.convertToFormat(QImage::Format_RGB888).pixelColor(7, 7), QColor(Qt::red));
        QVERIFY(QFile::exists(state("claude-add-running")) && QFile::exists(state("codex-add-running")));
        release("hold-claude-add");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 3, 20000);
        QVERIFY(page().contains("|Claude Code|Configured|[Remove]|") && page().contains("|Codex|Detected|[Working"));
        release("hold-codex-add");
        waitForScans(4); // a scan started while Codex worked would make five, or log "busy"
        const Toasts configured{{"Claude Desktop configured", 1},
                                {"Cursor configured", 1},
                                {"Claude Code configured", 1},
                                {"Codex configured", 1}};
        QCOMPARE(Toasts(p->toasts), configured);
        QCOMPARE(count("get") + count("busy"), 4);
        QVERIFY(page().contains("|Codex|Configured|[Remove]|"));

        // A configured client's "⋯" opens its menu; a backup put back from it rereads the clients.
        QToolButton *more = nullptr;
        for (ClientCard *c : area()->widget()->findChildren<ClientCard *>())
            more = c->clientId() == "cursor" ? c->findChild<QToolButton *>("clientMore") : more;
        QVERIFY(more);
        QTest::mouseClick(more, Qt::LeftButton);
        ClientMenu *menu = nullptr;
        QTRY_VERIFY((menu = v()->findChild<ClientMenu *>()) && menu->isVisible());
        emit menu->restored("cursor");
        menu->close();
        waitForScans(5);

        // The page goes while a rescan and a failing removal are held.
        touch("hold-get-6");
        click("Remove Cursor");
        QTRY_COMPARE_WITH_TIMEOUT(count("get"), 6, 20000);
        touch("codex-fail");
        touch("hold-codex-remove");
        click("Remove Codex");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state("codex-remove-running")), 20000);
        p->view.reset();
        release("hold-codex-remove");
        release("hold-get-6");
        QVERIFY(idle());
        QCoreApplication::processEvents();
        QCOMPARE(Toasts(p->toasts), Toasts(configured) << (QVariantList{"Cursor removed", 0}));
    }

    // A mode change on Settings, Setup never opened, no project: clients with another mode get the
    // new one, the one that has it already is not touched, and one toast sums it up.
    void modeChangeBeforeSetupWasOpened()
    {
        p.reset(); // a whole window instead
        QVERIFY(TestEnv::writeFile(TestEnv::dataHome() + "/Tavrin/settings.json",
                                   R"({"check_updates":false,"first_run_done":true})"));
        const char *old[] = {"claude-desktop", "cursor", "windsurf", "vscode"};
        for (const char *id : old)
            writeEntry(id, entry("safe_edit"), id == old[3] ? "servers" : "mcpServers");
        writeEntry("cline", entry("full_control"));
        touch("codex-on", "safe_edit");
        const QString cline = Clients::configPathFor("cline");
        const QDateTime then = backdate(cline);

        MainWindow window;
        QSignalSpy toasts(window.findChild<SetupView *>(), &SetupView::showToast);
        window.switchView(2);
        for (QPushButton *button : window.findChild<SettingsView *>()->findChildren<QPushButton *>())
            if (button->text() == "Full Control")
                QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(toasts.count(), 1, 20000);
        QCOMPARE(toasts.at(0), (QVariantList{"Full Control applied to 5 clients", 1}));
        for (const char *id : old)
            QCOMPARE(modeIn(id), "full");
        QCOMPARE(TestEnv::readFile(state("codex-on")), "full_control");
        QCOMPARE(QFileInfo(cline).lastModified(), then);
        waitForScans(2); // the one it needed, the one after
        QCOMPARE(toasts.count(), 1);
        QStringList shown;
        for (Toast *toast : window.findChildren<Toast *>())
            shown << toast->text();
        QVERIFY2(shown.contains("Full Control applied to 5 clients") && shown.contains("Permission mode: Full Control"),
                 qPrintable(shown.join(", ")));
    }

    // Mode changes that meet other work: each is applied once the page knows what the clients
    // hold, the last of several wins, and one summary covers changes that overlap.
    void modeChangeRaces()
    {
        for (const char *id : {"claude-desktop", "cursor"})
            writeEntry(id, entry("safe_edit"));
        touch("codex-on", "safe_edit");
        v()->resize(700, 200);
        v()->show();
        open();
        // Scrolled to the very bottom of a short window, further down than a fresh scroll area can go
        // before its layout has run. The rebuilds below, several in a row, keep it there.
        QTRY_VERIFY(area()->verticalScrollBar()->maximum() > 500);
        const int bottom = area()->verticalScrollBar()->maximum();
        area()->verticalScrollBar()->setValue(bottom);
        const auto change = [&](const char *mode) {
            p->settings.setPermissionMode(mode);
            v()->syncPermissionMode(mode);
        };

        // While Codex is being removed: waits for it and the rescan after; Codex is gone by then.
        touch("hold-codex-remove");
        click("Remove Codex");
        change("full_control");
        QCOMPARE(card("Cursor"),
                 "Needs update<Registered with Safe Edit; Settings say Full Control>|[Update]|[Remove]");
        release("hold-codex-remove");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 2, 20000);
        QCOMPARE(Toasts(p->toasts), (Toasts{{"Codex removed", 0}, {"Full Control applied to 2 clients", 1}}));
        waitForScans(3);
        QVERIFY(modeIn("cursor") == "full" && modeIn("claude-desktop") == "full" && count("codex-add") == 0);
        p->toasts.clear();

        // Two changes while Claude Code is being configured: back where it was, nothing to rewrite.
        const QDateTime then = backdate(Clients::configPathFor("cursor"));
        touch("hold-claude-add");
        click("Configure Claude Code");
        change("safe_edit");
        change("full_control");
        release("hold-claude-add");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 2, 20000);
        QCOMPARE(Toasts(p->toasts), (Toasts{{"Claude Code configured", 1},
                                            {"Full Control is already in use by every configured client", 0}}));
        QCOMPARE(QFileInfo(Clients::configPathFor("cursor")).lastModified(), then);
        QCOMPARE(count("claude-add"), 1);
        waitForScans(4);
        p->toasts.clear();

        // A change while a re-sync runs: applied after it; one summary for both.
        touch("hold-claude-add");
        change("safe_edit");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state("claude-add-running")), 20000);
        QCOMPARE(card("Claude Code"),
                 "Needs update<Registered with Full Control; Settings say Safe Edit>|[Working.../off]");
        change("full_control");
        release("hold-claude-add");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QCOMPARE(p->toasts.at(0), (QVariantList{"Full Control applied to 3 clients", 1}));
        QCOMPARE(TestEnv::readFile(state("claude-on")), "full_control");
        QCOMPARE(count("claude-add"), 3);
        waitForScans(6);
        p->toasts.clear();

        // A failure names the client and why; the others are applied; the box has the whole text.
        touch("claude-fail");
        change("safe_edit");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QCOMPARE(p->toasts.at(0),
                 (QVariantList{"Safe Edit could not be applied to Claude Code (claude: remove failed); "
                               "Safe Edit applied to 2 clients",
                               2}));
        const QList<QMessageBox *> boxes = v()->findChildren<QMessageBox *>();
        QVERIFY(boxes.size() == 1 && boxes.at(0)->text() == "Claude Code: claude: remove failed");
        QVERIFY(modeIn("cursor") == "safe" && modeIn("claude-desktop") == "safe");
        waitForScans(7);
        QVERIFY(page().contains("|Claude Code|Needs update<Registered with Full Control; Settings say Safe Edit>|"));
        QTRY_COMPARE(area()->verticalScrollBar()->value(), bottom);
    }

    void serverTest()
    {
        open();
        v()->serverProbe()->setTimeLimit(20000);
        const auto server = [&] { return text(area()->widget()->findChild<ServerCard *>()); };
        const QString hold = TestEnv::home() + "/hold";
        QVERIFY(TestEnv::writeFile(hold, {}));
        writeServer("sys.stderr.write('Resolving\\nDownloading cpython (1.0MiB)\\n'); sys.stderr.flush()\n"
                    "if sys.argv[1:] == ['tavrin']: open(os.environ['HOME'] + '/mode', "
                    "'w').write(os.environ['GODOT_MCP_PERMISSION_MODE'])\n"
                    "while os.path.exists(os.environ['HOME'] + '/hold'): time.sleep(0.05)\nserve()");
        p->settings.setPermissionMode("full_control");
        click("Test Server");
        QVERIFY2(server().startsWith("Tavrin MCP Server|Starting “uvx tavrin”… 0 s|"), qPrintable(server()));
        QVERIFY(server().endsWith("|[Cancel]"));
        QTRY_VERIFY_WITH_TIMEOUT(server().contains("… 1 s|Downloading cpython (1.0MiB)|[Cancel]"), 10000);
        // The page rebuilds while the test runs; the new card shows it as it is.
        click("Configure Cursor");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QVERIFY2(server().contains(" s|Downloading cpython (1.0MiB)|[Cancel]"), qPrintable(server()));
        QVERIFY(QFile::remove(hold));
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 2, 20000);
        QCOMPARE(p->toasts.at(1), (QVariantList{"Server test passed", 1}));
        QVERIFY2(QRegularExpression("^Tavrin MCP Server\\|Started in [0-9.]+ s · 3 tools · protocol 2025-11-25 · "
                                    "tavrin 1\\.2\\.0\\|\\[Test Server\\]$")
                     .match(server())
                     .hasMatch(),
                 qPrintable(server()));
        QCOMPARE(TestEnv::readFile(TestEnv::home() + "/mode"), "full_control");

        writeServer("sys.stderr.write('boom: no Godot editor\\n')\nsys.exit(1)");
        click("Test Server");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 3, 20000);
        QCOMPARE(p->toasts.at(2), (QVariantList{"Server test failed", 2}));
        QVERIFY2(server().contains("boom: no Godot editor") && server().endsWith("[Test Server]"),
                 qPrintable(server()));

        // Cancelled: no toast, and the server is gone.
        writeServer("open(os.environ['HOME'] + '/pid', 'w').write(str(os.getpid()))\ntime.sleep(60)");
        click("Test Server");
        QTRY_VERIFY_WITH_TIMEOUT(!TestEnv::readFile(TestEnv::home() + "/pid").isEmpty(), 10000);
        click("Cancel");
        QTRY_COMPARE(server(), "Tavrin MCP Server|The server test was cancelled.|[Test Server]");
        QTRY_VERIFY_WITH_TIMEOUT(!TestEnv::processAlive(TestEnv::readFile(TestEnv::home() + "/pid").toLongLong()),
                                 10000);
        QCOMPARE(p->toasts.count(), 3);
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
        qApp->setStyleSheet(Theme::STYLE_SHEET); // its paddings and scroll bar count here
        const auto plain = qScopeGuard([] { qApp->setStyleSheet({}); });
        QString project = m_project + '/';
        project += QString(200 - project.size(), 'x');
        QVERIFY(TestEnv::writeFile(project + "/addons/tavrin_mcp/plugin.cfg", "[plugin]\nversion=\"0.1\"\n"));
        for (const char *id : {"claude-desktop", "cursor"})
            writeEntry(id, entry("safe_edit"));
        p->settings.setPermissionMode("full_control");
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
                if (!button->isVisible() || r.left() < 0 || r.right() >= area()->viewport()->width())
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

    // Tab goes through the page's buttons in reading order, with nothing unseen between them;
    // after a rebuild focus is back on the same card, also across "Working...".
    void keyboard()
    {
        open();
        v()->resize(900, 1400);
        v()->show();
        QApplication::setActiveWindow(v());
        QVERIFY(QTest::qWaitForWindowActive(v()));
        const QList<QWidget *> stops = FocusKeeper::tabStops(v());
        QCOMPARE(stops.size(), 1 + 4 * 2 + 1); // Install, "⋯" and Configure of the four installed clients, Test Server
        stops.first()->setFocus();
        QPoint last(-1, -1);
        for (QWidget *stop : stops) {
            QCOMPARE(QApplication::focusWidget(), stop);
            // A client card's stops go together; cards in reading order.
            QWidget *card = stop;
            while (card && !qobject_cast<ClientCard *>(card))
                card = card->parentWidget();
            const QPoint at = (card ? card : stop)->mapTo(v(), QPoint());
            QVERIFY(qobject_cast<QAbstractButton *>(stop) && stop->isVisible());
            QVERIFY(at == last || at.y() > last.y() + 8 || (qAbs(at.y() - last.y()) <= 8 && at.x() > last.x()));
            last = at;
            QTest::keyClick(stop, Qt::Key_Tab);
        }

        const auto press = [&](const QString &name) {
            QWidget *target = button(name);
            QVERIFY2(target, qPrintable(name));
            QTRY_VERIFY(target->hasFocus()); // a new control takes the focus once it is shown
            QTest::keyClick(target, Qt::Key_Space);
        };
        const auto focused = [] { return QApplication::focusWidget(); };
        button("Configure Cursor")->setFocus();
        press("Configure Cursor");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QTRY_COMPARE(focused(), button("Remove Cursor"));
        waitForScans(2);
        touch("hold-codex-add");
        button("Configure Codex")->setFocus();
        press("Configure Codex");
        QCOMPARE(qobject_cast<ClientCard *>(focused())->clientId(), "codex"); // its card holds the focus
        release("hold-codex-add");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 2, 20000);
        QTRY_COMPARE(focused(), button("Remove Codex"));
        waitForScans(3);
        button("Install")->setFocus();
        press("Install");
        QCOMPARE(focused()->objectName(), "addonCard");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 3, 20000);
        QTRY_COMPARE(focused(), button("Uninstall"));
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
        qputenv("PATH", (bin + ':' + QFileInfo(node).absolutePath() + ':' + TestEnv::binDir()).toUtf8());
        qputenv("CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC", "1");
        const auto settle = [] {
            for (int i = 0; i < 3; ++i) {
                QVERIFY(idle());
                QCoreApplication::processEvents();
            }
        };
        open(false);
        QTRY_VERIFY_WITH_TIMEOUT(button("Configure Codex") && button("Configure Claude Code"), 60000);
        click("Configure Claude Code");
        click("Configure Codex");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 2, 120000);
        settle();
        p->settings.setPermissionMode("full_control");
        for (const ClientInfo &info : Clients().detect("full_control"))
            if (info.usesCli)
                QVERIFY2(info.configured && !info.upToDate && info.mode == "safe_edit", qPrintable(info.id));
        v()->refresh(); // shows what the rescan after the registrations read, with the new mode
        const QString stale = "Needs update<Registered with Safe Edit; Settings say Full Control>|[Update]|[Remove]";
        QCOMPARE(card("Claude Code"), stale);
        QCOMPARE(card("Codex"), stale);
        v()->syncPermissionMode("full_control");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 3, 120000);
        QCOMPARE(p->toasts.at(2), (QVariantList{"Full Control applied to 2 clients", 1}));
        settle();
        QCOMPARE(card("Claude Code"), "Configured|[Remove]");
        QCOMPARE(card("Codex"), "Configured|[Remove]");
        for (const ClientInfo &info : Clients().detect("full_control"))
            if (info.usesCli)
                QVERIFY2(info.upToDate && info.mode == "full_control", qPrintable(info.id));
    }
};

TAVRIN_TEST_MAIN(TestSetupView)
#include "tst_gui_setupview.moc"
