#include "testenv.h"

#include "addon.h"
#include "cardgrid.h"
#include "clientcard.h"
#include "elidedlabel.h"
#include "focuskeeper.h"
#include "mainwindow.h"
#include "servercard.h"
#include "serverprobe.h"
#include "settings.h"
#include "settingsview.h"
#include "setupview.h"
#include "toast.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QThreadPool>

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
        for (ClientCard *card : area()->widget()->findChildren<ClientCard *>()) {
            if (card->findChild<QLabel *>("clientName")->text() == name)
                return text(card).section('|', 1);
        }
        return {};
    }
    // Client buttons by accessible name, others by text.
    QPushButton *button(const QString &name) const
    {
        for (QPushButton *button : area()->widget()->findChildren<QPushButton *>()) {
            if (button->accessibleName() == name || button->text() == name)
                return button;
        }
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
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                return box;
        }
        return nullptr;
    }
    static void writeServer(const QByteArray &body)
    {
        // A legacy MCP server in a few lines: answers initialize, then lists three tools.
        const QByteArray prelude = "#!/usr/bin/python3\n"
                                   R"PY(
import json, os, sys, time
def recv():
    line = sys.stdin.readline()
    if not line:
        sys.exit(0)
    return json.loads(line)
def send(msg, res):
    sys.stdout.write(json.dumps({"jsonrpc": "2.0", "id": msg["id"], "result": res}) + "\n")
    sys.stdout.flush()
def serve():
    send(recv(), {"protocolVersion": "2025-11-25", "capabilities": {"tools": {}},
                  "serverInfo": {"name": "tavrin", "version": "1.2.0"}})
    recv()
    send(recv(), {"tools": [{"name": "t%d" % i, "inputSchema": {"type": "object"}} for i in range(3)]})
    while sys.stdin.readline():
        pass
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
        const QString update = "|[Update]|[Remove]";
        QTest::newRow("up to date") << "Cursor" << entry("full_control") << "Configured|[Remove]";
        QTest::newRow("old mode") << "Cursor" << entry("safe_edit")
                                  << "Needs update<Registered with Safe Edit; Settings say Full Control>" + update;
        QTest::newRow("another command") << "Cursor" << entry("full_control", "\"node\",\"args\":[\"server.js\"]")
                                         << "Needs update<Starts “node server.js” instead of “uvx tavrin”>" + update;
        QTest::newRow("both, no args") << "Cursor" << entry("yolo", "\"uvx\"")
                                       << "Needs update<Starts “uvx” instead of “uvx tavrin”\n"
                                          "Registered with “yolo”; Settings say Full Control>" +
                                              update;
        QTest::newRow("no mode") << "Cursor" << QByteArray(R"({"command":"uvx","args":["tavrin"]})")
                                 << "Needs update<Registered without a permission mode; Settings say Full Control>" +
                                        update;
        QTest::newRow("not an object") << "Cursor" << QByteArray("null")
                                       << "Needs update<The entry is not an object>" + update;
        // A client without a card of its own while absent gets one once configured, comments and all.
        QTest::newRow("VS Code") << "VS Code" << QByteArray("// mine\n{\"type\":\"stdio\",") + entry("safe_edit").mid(1)
                                 << "Needs update<Registered with Safe Edit; Settings say Full Control>" + update;
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
        // Not synchronisation: gives a wrongly started scan time to reach the fakes while Codex works.
        QTest::qWait(300);
        QCOMPARE(count("get"), 3);
        release("hold-codex-add");
        waitForScans(4);
        const Toasts configured{{"Claude Desktop configured", 1},
                                {"Cursor configured", 1},
                                {"Claude Code configured", 1},
                                {"Codex configured", 1}};
        QCOMPARE(Toasts(p->toasts), configured);
        QCOMPARE(count("get") + count("busy"), 4);
        QVERIFY(page().contains("|Codex|Configured|[Remove]|"));

        // The page goes while a rescan and a failing removal are held.
        touch("hold-get-5");
        click("Remove Cursor");
        QTRY_COMPARE_WITH_TIMEOUT(count("get"), 5, 20000);
        touch("codex-fail");
        touch("hold-codex-remove");
        click("Remove Codex");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state("codex-remove-running")), 20000);
        p->view.reset();
        release("hold-codex-remove");
        release("hold-get-5");
        QVERIFY(idle());
        QCoreApplication::processEvents();
        QCOMPARE(Toasts(p->toasts), Toasts(configured) << (QVariantList{"Cursor removed", 0}));
    }
};

TAVRIN_TEST_MAIN(TestSetupView)
#include "tst_gui_setupview.moc"
