#include "testenv.h"

#include "addon.h"
#include "settings.h"
#include "setupview.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QThreadPool>

using Toasts = QList<QVariantList>;

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
    void touch(const char *name) const { QVERIFY(TestEnv::writeFile(state(name), {})); }
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
    QScrollArea *area() const { return v()->findChildren<QScrollArea *>(QString(), Qt::FindDirectChildrenOnly).last(); }
    // The page as text, in order: labels, and buttons in brackets ("/off" when disabled).
    QString page() const
    {
        QStringList parts;
        for (QWidget *w : area()->widget()->findChildren<QWidget *>()) {
            if (auto *label = qobject_cast<QLabel *>(w); label && !label->text().isEmpty())
                parts << label->text();
            else if (auto *button = qobject_cast<QPushButton *>(w))
                parts << '[' + button->text() + (button->isEnabled() ? "]" : "/off]");
        }
        return parts.join('|');
    }
    // Client buttons by accessible name, addon buttons by text.
    void click(const QString &name) const
    {
        for (QPushButton *button : area()->widget()->findChildren<QPushButton *>()) {
            if (button->accessibleName() == name || button->text() == name)
                return QTest::mouseClick(button, Qt::LeftButton);
        }
        QFAIL(qPrintable("no button " + name));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::writeFile(qApp->applicationDirPath() + "/bundled_addon/plugin.cfg", "version=9.8.7"));
        QVERIFY(!TestEnv::writeTool("uv", "echo 'uv 0.5.1'").isEmpty());
        // Only Codex answers "get" (Claude Code's detection reads ~/.claude.json). It comes last in a
        // detection, so "hold-get-<n>" holds the n-th scan after the JSON clients were read.
        const QByteArray fake = "S=" + m_state.toUtf8() + R"sh(; L=$S/calls.log; N=${0##*/}
hold() { i=0; while [ -e $S/$1 ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; }
if [ "$2" = get ]; then ls $S/*-running >/dev/null 2>&1 && echo busy >> $L; echo get >> $L
  hold hold-get-$(grep -c ^get $L); [ -e $S/codex-on ] && echo '{"name":"tavrin"}'; exit $?; fi
echo $N-$2 >> $L; touch $S/$N-$2-running; hold hold-$N-$2; rm $S/$N-$2-running
[ -e $S/$N-fail ] && echo "  $N: $2 failed  " && exit 1; [ $2 = add ] && touch $S/$N-on || rm -f $S/$N-on
[ $N$2 = claudeadd ] && echo '{"mcpServers":{"tavrin":{}}}' > $HOME/.claude.json; exit 0)sh";
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
        QCOMPARE(page(), head + "Not installed|[Install]|AI CLIENTS|Checking AI clients...|PREREQUISITES|"
                                "Checking prerequisites...");
        release("hold-get-1");
        waitForScans(1);
        QCOMPARE(
            page(),
            head +
                "Not installed|[Install]|AI CLIENTS|Claude Code|Detected|[Configure]|"
                "Claude Desktop|Detected|[Configure]|Cursor|Detected|[Configure]|Windsurf|Not installed|"
                "Install the client to configure.|Cline|Not installed|Install the client to configure.|"
                "Codex|Detected|[Configure]|PREREQUISITES|Python|Install from python.org|uv|0.5.1|uvx|Comes with uv");

        const auto run = [&](const char *button, const char *toast, const char *after) {
            click(button);
            // Rebuilt at once: "Working..." instead of any button, until the worker reports back.
            QVERIFY2(page().contains("|Working...|AI CLIENTS|"), qPrintable(page()));
            QTRY_VERIFY_WITH_TIMEOUT(!p->toasts.isEmpty(), 20000);
            QCOMPARE(p->toasts.takeFirst(), (QVariantList{toast, 1}));
            QVERIFY2(page().startsWith(head + after + "|AI CLIENTS|"), qPrintable(page()));
        };
        run("Install", "Addon installed / updated", "Installed v9.8.7|[Uninstall]");
        QVERIFY(TestEnv::writeFile(m_project + "/addons/tavrin_mcp/plugin.cfg", "[plugin]\nversion=\"0.0.1\"\n"));
        v()->refresh();
        QVERIFY(page().startsWith(head + "Installed v0.0.1 (update available: v9.8.7)|[Update]|[Uninstall]|"));
        run("Update", "Addon installed / updated", "Installed v9.8.7|[Uninstall]");
        run("Uninstall", "Addon uninstalled", "Not installed|[Install]");
        QVERIFY(!QFileInfo::exists(m_project + "/addons/tavrin_mcp") && idle());
        QCOMPARE(count("get"), 1); // neither addon work nor a refresh within a minute scans
    }

    void failureShowsBoxThenErrorToast_data()
    {
        QTest::addColumn<QStringList>("row"); // button, message box, toast
        QTest::newRow("write") << QStringList{"Configure Codex", "Configuration failed: codex: add failed",
                                              "Configuration failed"};
        QTest::newRow("remove") << QStringList{"Remove Codex", "Remove configuration failed: codex: remove failed",
                                               "Remove failed"};
        QTest::newRow("addon") << QStringList{
            "Install", "Addon operation failed: Godot project not found: " + m_project, "Addon operation failed"};
    }

    void failureShowsBoxThenErrorToast()
    {
        QFETCH(QStringList, row);
        touch("codex-fail");
        if (row.at(0).startsWith("Remove"))
            touch("codex-on");
        QVERIFY(QFile::remove(m_project + "/project.godot"));
        open();
        const QString before = page();
        click(row.at(0));
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 1, 20000);
        QCOMPARE(p->toasts.at(0), (QVariantList{row.at(2), 2}));
        const QList<QMessageBox *> boxes = v()->findChildren<QMessageBox *>();
        QVERIFY(boxes.size() == 1 && boxes.at(0)->isVisible() && boxes.at(0)->windowModality() == Qt::NonModal);
        QCOMPARE(boxes.at(0)->windowTitle() + ": " + boxes.at(0)->text(), row.at(1));
        // The card is usable again and keeps its state; a client failure still rescans.
        waitForScans(row.at(0) == "Install" ? 1 : 2);
        QCOMPARE(page(), before);
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
        QCOMPARE(Toasts(p->toasts), Toasts(4, {"Configured!", 1}));
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
        QCOMPARE(Toasts(p->toasts), (Toasts(4, {"Configured!", 1}) << QVariantList{"Removed", 0}));
    }

    void permissionChangeResyncsConfiguredClients()
    {
        const char *ids[] = {"claude-desktop", "cursor", "windsurf"};
        for (const char *id : ids)
            QVERIFY(TestEnv::writeFile(Clients::configPathFor(id),
                                       R"({"mcpServers":{"tavrin":{"env":{"X":"safe_edit"}}}})"));
        touch("codex-on");
        p->settings.setPermissionMode("full_control");
        v()->syncPermissionMode("full_control"); // nothing is known before the first scan: nothing happens
        v()->resize(700, 200);
        v()->show();
        open();
        QVERIFY(TestEnv::readFile(Clients::configPathFor("cursor")).contains("safe_edit"));
        // Scrolled to the very bottom of a short window, further down than a fresh scroll area can go
        // before its layout has run. The rebuilds below, several in a row, keep it there.
        QTRY_VERIFY(area()->verticalScrollBar()->maximum() > 500);
        const int bottom = area()->verticalScrollBar()->maximum();
        area()->verticalScrollBar()->setValue(bottom);

        // Codex is busy being removed: the re-sync skips it and rewrites the other three.
        touch("hold-codex-remove");
        click("Remove Codex");
        v()->syncPermissionMode("full_control");
        QTRY_COMPARE_WITH_TIMEOUT(p->toasts.count(), 3, 20000);
        for (const char *id : ids)
            QVERIFY(TestEnv::readFile(Clients::configPathFor(id)).contains("\"full_control\""));
        release("hold-codex-remove");
        waitForScans(2);
        QCOMPARE(Toasts(p->toasts), (Toasts(3, {"Configured!", 1}) << QVariantList{"Removed", 0}));
        QCOMPARE(count("codex-add"), 0);
        QCOMPARE(count("get") + count("busy"), 2);
        QTRY_COMPARE(area()->verticalScrollBar()->value(), bottom);
    }
};

TAVRIN_TEST_MAIN(TestSetupView)
#include "tst_gui_setupview.moc"
