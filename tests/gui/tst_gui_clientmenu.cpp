#include "base/tomlreader.h"
#include "core/backups.h"
#include "core/cliententry.h"
#include "core/clients.h"
#include "core/settings.h"
#include "core/setupmodel.h"
#include "fakes/fakecli.h"
#include "fixtures.h"
#include "gui/guitest.h"
#include "gui/setup/clientmenu.h"
#include "gui/setup/entrydialog.h"
#include "gui/setup/restoredialog.h"
#include "testenv.h"

#include <QtTest>
#include <QtWidgets>

#include <ctime>

namespace {

using Fixtures::detected;
using GuiTest::shownWindow;
const auto button = GuiTest::find<QPushButton>;

QAction *action(QMenu &menu, const QString &text)
{
    const QList<QAction *> all = menu.actions();
    const auto it = std::find_if(all.cbegin(), all.cend(), [&](QAction *a) { return a->text() == text; });
    return it == all.cend() ? nullptr : *it;
}

QString text(QWidget *parent, const QString &name)
{
    if (auto *box = parent->findChild<QPlainTextEdit *>(name))
        return box->toPlainText();
    if (auto *label = parent->findChild<QLabel *>(name))
        return label->text();
    return QStringLiteral("<none>");
}

// A file client's backup taken at a given UTC time, written straight into its folder.
QString plantBackup(const QString &id, const QDateTime &time, const QByteArray &bytes)
{
    const QString path = Backups::clientFolder(id) + '/' + Backups::backupFileName(time, "mcp.json", {});
    return TestEnv::writeFile(path, bytes) ? path : QString();
}

// Fake CLI: "mcp get" prints `out` (standard error gets `err`) and exits with `code`.
void fakeQuery(const QString &tool, const QByteArray &out, const QByteArray &err = {}, int code = 0)
{
    const QString state = TestEnv::root().path() + "/state";
    QVERIFY(FakeCli::write(state, {tool}) && FakeCli::answer(state, tool, "get", out, QByteArray::number(code), err));
}

const QByteArray s_cursorEntry = "{\n    \"mcpServers\": {\n        \"tavrin\": {\n            \"args\": [\n"
                                 "                \"tavrin\"\n            ],\n            \"command\": \"uvx\"\n"
                                 "        }\n    }\n}\n";

} // namespace

class TestClientMenu : public QObject
{
    Q_OBJECT

    Settings m_settings;
    SetupModel m_model{&m_settings};
    QList<QUrl> m_opened;

public:
    // Takes the folders the desktop is asked to open.
    Q_INVOKABLE void open(const QUrl &url) { m_opened << url; }

private slots:
    void initTestCase()
    {
        // Half an hour off the hour shows that times are local, not UTC.
        qputenv("TZ", "IST-5:30");
        tzset();
    }

    void init()
    {
        for (const QString &dir : {TestEnv::home(), TestEnv::binDir(), TestEnv::configHome(), TestEnv::dataHome(),
                                   TestEnv::root().path() + "/state"})
            QVERIFY(QDir(dir).removeRecursively() && QDir().mkpath(dir));
        QGuiApplication::clipboard()->clear();
    }

    void cleanup()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<QDialog *>(w))
                delete w;
    }

    // Copy Entry copies a whole document in the client's syntax, holding our entry in the client's
    // own key and shape, and the toast says where it goes.
    void copyEntry_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<QString>("paste"); // the toast after "Copied the "tavrin" entry with <mode>. "
        using TestEnv::row;
        row("cursor, no file", "cursor", "safe_edit", false, "Save it as %1.");
        row("claude code", "claude-code", "full_control", true,
            "Paste it into %1, merging its \"mcpServers\" with the one there.");
        row("vscode", "vscode", "safe_edit", true, "Paste it into %1, merging its \"servers\" with the one there.");
        row("opencode", "opencode", "full_control", false, "Save it as %1.");
        row("codex", "codex", "full_control", true, "Paste it at the end of %1.");
    }
    void copyEntry()
    {
        QFETCH(QString, id);
        QFETCH(QString, mode);
        QFETCH(bool, fileExists);
        QFETCH(QString, paste);
        const ClientCatalogue::Client &client = *ClientCatalogue::find(id);
        const QString path = ClientCatalogue::configPath(id);
        if (fileExists)
            QVERIFY(TestEnv::writeFile(path, client.file.syntax == ClientCatalogue::Syntax::Toml ? "" : "{}"));
        ClientMenu menu(&m_model, detected(id), mode);
        QSignalSpy toasts(&menu, &ClientMenu::showToast);
        action(menu, "Copy Entry")->trigger();
        const QByteArray copied = QGuiApplication::clipboard()->text().toUtf8();

        QJsonObject document;
        if (client.file.syntax == ClientCatalogue::Syntax::Toml) {
            QString error;
            QVERIFY2(TomlReader::parse(copied, &document, &error), qPrintable(error));
        } else {
            QJsonParseError error;
            document = QJsonDocument::fromJson(copied, &error).object(); // strict JSON, whatever the file allows
            QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
        }
        QCOMPARE(document.keys(), QStringList{client.file.serversPath.first()});
        const ClientEntry::Reading entry = ClientEntry::read(copied, client.file);
        QVERIFY(entry.valid);
        QCOMPARE(entry.command + ' ' + entry.args.join(' '), "uvx tavrin");
        QCOMPARE(entry.mode, mode);
        if (id == "vscode") // the members the client wants beside ours come along
            QCOMPARE(document["servers"].toObject()["tavrin"].toObject()["type"].toString(), "stdio");

        const QString name = mode == "safe_edit" ? "Safe Edit" : "Full Control";
        QCOMPARE(
            toasts,
            QList<QVariantList>(
                {{"Copied the \"tavrin\" entry with " + name + ". " + paste.arg(QDir::toNativeSeparators(path)), 1}}));
    }

    // What applies is enabled; what does not says why. Flags: restore, show, open, copy.
    void menuStates_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("file"); // null: none
        QTest::addColumn<bool>("backup");
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("why"); // the tool tips of the disabled actions, '|' between
        using TestEnv::row;
        const QString none = "No backups yet: Tavrin makes one before each change it makes to %1.";
        const QString cursor = TestEnv::home() + "/.cursor/mcp.json";
        row("configured, backed up", "cursor", s_cursorEntry, true, "1111", QString());
        row("nothing yet", "cursor", QByteArray(), false, "0001",
            none.arg(cursor) + "|Cursor has no \"tavrin\" entry.|" + cursor + " does not exist yet.");
        row("file without entry", "cursor", QByteArray("{}"), true, "1011", "Cursor has no \"tavrin\" entry.");
        row("codex, registered", "codex", QByteArray("[mcp_servers.tavrin]\n"), false, "0111",
            none.arg(TestEnv::home() + "/.codex/config.toml"));
    }
    void menuStates()
    {
        QFETCH(QString, id);
        QFETCH(QByteArray, file);
        QFETCH(bool, backup);
        QFETCH(QString, flags);
        QFETCH(QString, why);
        const QString path = ClientCatalogue::configPath(id);
        QVERIFY(file.isNull() || TestEnv::writeFile(path, file));
        QVERIFY(!backup || !plantBackup(id, QDateTime::currentDateTimeUtc(), "{}").isEmpty());
        if (id == "codex")
            fakeQuery(id, R"({"name": "tavrin", "transport": {"command": "uvx"}})");
        ClientMenu menu(&m_model, detected(id), QStringLiteral("safe_edit"));
        QString states;
        QStringList tips;
        for (QAction *a : menu.actions()) {
            states += a->isEnabled() ? '1' : '0';
            if (!a->isEnabled())
                tips << a->toolTip();
        }
        QCOMPARE(states, flags);
        QCOMPARE(tips.join('|'), why);
        QVERIFY(menu.toolTipsVisible());
    }

    // Without backups the dialog says so and offers only Close. With them: rows newest first, in
    // local time, with size and what each holds, the oldest marked as such; a stray file and an
    // empty one (left by a killed backup of an older version) are no backups.
    void restoreList()
    {
        {
            RestoreDialog empty(&m_model, "cursor", "Cursor", ClientCatalogue::configPath("cursor"));
            empty.show();
            QTRY_COMPARE_WITH_TIMEOUT(text(&empty, "status"),
                                      "No backups yet. Tavrin makes one before each change it makes to this file.",
                                      10000);
            for (QPushButton *b : empty.findChildren<QPushButton *>())
                QCOMPARE(b->isEnabled(), b->text() == "Close");
        }
        const QDateTime t(QDate(2025, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
        // Entries with the same mode are told apart by what they start.
        const QByteArray safe = R"({"mcpServers": {"tavrin": {"env": {"GODOT_MCP_PERMISSION_MODE": "safe_edit"}}}})";
        const QByteArray full = QByteArray(R"({"mcpServers": {"tavrin": {"command": "python3", "args": ["-m", )"
                                           R"("tavrin"], "env": {"GODOT_MCP_PERMISSION_MODE": "full_control"}}}, )"
                                           R"("pad": ")") +
                                QByteArray(1380, 'x') + "\"}";
        const QList<QPair<QDateTime, QByteArray>> planted{{t, safe},
                                                          {t.addDays(1), "{ nope"},
                                                          {t.addSecs(-1), R"({"mcpServers": {}})"},
                                                          {t.addDays(2), ""},
                                                          {t.addMSecs(500), full}};
        for (const auto &[time, bytes] : planted)
            QVERIFY(!plantBackup("cursor", time, bytes).isEmpty());
        QVERIFY(TestEnv::writeFile(Backups::clientFolder("cursor") + "/notes.txt", "mine"));

        ClientMenu menu(&m_model, detected("cursor"), QStringLiteral("safe_edit"));
        action(menu, "Restore Previous Version…")->trigger();
        RestoreDialog *dialog = shownWindow<RestoreDialog>();
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), "Restore Cursor Configuration");
        auto *list = dialog->findChild<QTreeWidget *>("backupList");
        QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItemCount(), 4, 10000);
        QStringList rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = list->topLevelItem(i);
            rows << item->text(0) + " | " + item->text(1) + " | " + item->text(2);
        }
        QCOMPARE(rows,
                 QStringList({"2025-01-03 08:34:05 | 6 bytes | File not readable as JSON",
                              "2025-01-02 08:34:05 | 1.5 kB | python3 -m tavrin · Full Control",
                              "2025-01-02 08:34:05 | " + QString::number(safe.size()) +
                                  " bytes | Entry without a command · Safe Edit",
                              "2025-01-02 08:34:04 · Before Tavrin's first change | 18 bytes | No \"tavrin\" entry"}));
        QVERIFY(list->currentItem() == list->topLevelItem(0) && button(dialog, "Restore")->isEnabled());
        QVERIFY(dialog->findChild<QLabel *>("status")->isHidden());
    }

    // A restore through the dialog, once confirmed, brings back the chosen copy (what a restore keeps
    // is the backups' own test); the menu reports it and the page can rescan. A failure says why.
    void restoreThroughDialog()
    {
        const QString path = ClientCatalogue::configPath("cursor");
        const QByteArray mine = "{\"theme\": \"dark\" , \"mcpServers\": {}}\n";
        QVERIFY(TestEnv::writeFile(path, mine));
        Clients clients;
        QVERIFY(clients.writeConfig("cursor", "safe_edit")); // backs up `mine`
        QVERIFY(clients.writeConfig("cursor", "full_control"));
        const QByteArray replaced = TestEnv::readFile(path);

        ClientMenu menu(&m_model, detected("cursor"), QStringLiteral("full_control"));
        QSignalSpy toasts(&menu, &ClientMenu::showToast);
        QSignalSpy rescanned(&m_model, &SetupModel::prerequisitesChanged);
        action(menu, "Restore Previous Version…")->trigger();
        RestoreDialog *dialog = shownWindow<RestoreDialog>();
        auto *list = dialog->findChild<QTreeWidget *>("backupList");
        QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItemCount(), 2, 10000);
        QCOMPARE(list->topLevelItem(1)->text(2), "No \"tavrin\" entry");
        QCOMPARE(list->topLevelItem(0)->text(2), "uvx tavrin · Safe Edit"); // before the second write
        list->setCurrentItem(list->topLevelItem(1));
        QPointer<RestoreDialog> watch(dialog);
        // Asked first, naming the client and the copy's time; Cancel changes nothing.
        const QString taken = list->topLevelItem(1)->text(0).section(" · ", 0, 0);
        for (const bool confirm : {false, true}) {
            QTest::mouseClick(button(dialog, "Restore"), Qt::LeftButton);
            QMessageBox *box = nullptr;
            QTRY_VERIFY((box = dialog->findChild<QMessageBox *>()) && box->isVisible());
            QCOMPARE(box->text(), "Restore Cursor's configuration as it was at " + taken + "?");
            (confirm ? button(box, "Restore") : box->button(QMessageBox::Cancel))->click();
            QTRY_VERIFY(!watch || !watch->findChild<QMessageBox *>());
            if (!confirm)
                QCOMPARE(TestEnv::readFile(path), replaced);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!watch, 10000); // restored off the GUI thread, then closed

        QCOMPARE(TestEnv::readFile(path), mine); // the chosen copy
        const QString said = "Restored Cursor's configuration. The version it replaced was backed up.";
        QCOMPARE(toasts, QList<QVariantList>({{said, 1}}));
        QTRY_COMPARE_WITH_TIMEOUT(rescanned.count(), 1, 10000); // what the clients hold is read again

        // The file turned into a folder: it cannot be backed up, so nothing is replaced.
        QVERIFY(QFile::remove(path) && QDir().mkpath(path));
        RestoreDialog failing(&m_model, "cursor", "Cursor", path);
        failing.show();
        list = failing.findChild<QTreeWidget *>("backupList");
        QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItemCount(), 3, 10000);
        QTest::mouseClick(button(&failing, "Restore"), Qt::LeftButton);
        QTRY_VERIFY(failing.findChild<QMessageBox *>());
        button(failing.findChild<QMessageBox *>(), "Restore")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!failing.findChild<QLabel *>("error")->isHidden(), 10000);
        QVERIFY(failing.isVisible());
        QVERIFY2(text(&failing, "error").startsWith("Could not restore the backup. Cannot read " + path),
                 qPrintable(text(&failing, "error")));
        QVERIFY(QFileInfo(path).isDir());
        QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItemCount(), 3, 10000);
    }

    // Show Entry: the entry's text as the file has it, or, for a CLI client, the command line and
    // the client's own answer.
    void entryDialog_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("file");   // null: none
        QTest::addColumn<QByteArray>("answer"); // of "mcp get", then ';' and an exit code and standard error
        QTest::addColumn<QString>("entry");     // "<none>": no such box
        QTest::addColumn<QString>("report");
        const auto row = [](const char *tag, const char *id, const QByteArray &file, const QByteArray &answer,
                            const QString &entry,
                            const QString &report) { QTest::newRow(tag) << id << file << answer << entry << report; };
        const QString none = "<none>";
        row("json as written", "cursor", s_cursorEntry, {},
            "\"tavrin\": {\n    \"args\": [\n        \"tavrin\"\n    ],\n    \"command\": \"uvx\"\n}", none);
        row("comments kept", "zed",
            "{\r\n  // servers\r\n  \"context_servers\": {\r\n    \"tavrin\": { /* ours */\r\n      \"command\": "
            "\"uvx\",\r\n    },\r\n  }\r\n}",
            {}, "\"tavrin\": { /* ours */\n  \"command\": \"uvx\",\n}", none);
        row("no entry", "cursor", "{}", {}, "The file holds no \"tavrin\" entry.", none);
        row("broken", "cursor", "{\"a\": ", {},
            "The file is not readable as JSON: Unexpected end of the text at line 1, column 7.", none);
        row("a FIFO", "zed", "<fifo>", {}, "The file cannot be read: it is a FIFO (named pipe), not a regular file",
            none);
        row("claude, with its file", "claude-code", R"({"mcpServers": {"tavrin": {"command": "uvx"}}})",
            "tavrin:\n  Scope: User config\n  Command: uvx\n;0;", "\"tavrin\": {\"command\": \"uvx\"}",
            "tavrin:\n  Scope: User config\n  Command: uvx");
        row("codex, JSON indented", "codex", {}, R"({"name":"tavrin","transport":{"command":"uvx"}};0;)", none,
            "{\n    \"name\": \"tavrin\",\n    \"transport\": {\n        \"command\": \"uvx\"\n    }\n}");
        row("codex fails", "codex", {}, "noise;1;Error: no such server", none,
            "codex mcp get tavrin --json failed with exit code 1.\nWARNING: proceeding, even though we could not "
            "update PATH\nError: no such server");
    }
    void entryDialog()
    {
        QFETCH(QString, id);
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, answer);
        QFETCH(QString, entry);
        QFETCH(QString, report);
        const QString path = ClientCatalogue::configPath(id);
        if (file == "<fifo>" && !TestEnv::unixFiles)
            QSKIP("Windows has no FIFO");
        QVERIFY(file.isNull() || (file == "<fifo>" ? TestEnv::makeFifo(path) : TestEnv::writeFile(path, file)));
        const QList<QByteArray> parts = answer.split(';');
        if (!answer.isNull())
            fakeQuery(id == "codex" ? "codex" : "claude", parts.value(0), parts.value(2), parts.value(1).toInt());
        ClientInfo info = detected(id);
        info.mode = "full_control"; // as if registered in Full Control

        EntryDialog dialog(info, QStringLiteral("safe_edit"));
        dialog.show();
        QCOMPARE(text(&dialog, "entry"), entry);
        QCOMPARE(text(&dialog, "path"), entry == "<none>" ? "<none>" : path);
        if (answer.isNull()) {
            QCOMPARE(text(&dialog, "command"), "<none>");
            return;
        }
        const QString registered = id == "codex" ? "codex mcp add tavrin" : "claude mcp add tavrin --scope user";
        QCOMPARE(text(&dialog, "command"), registered + " --env GODOT_MCP_PERMISSION_MODE=full_control -- uvx tavrin");
        QTRY_COMPARE_WITH_TIMEOUT(text(&dialog, "report"), report, 20000);
        auto *box = dialog.findChild<QPlainTextEdit *>("report");
        QVERIFY(box->isReadOnly() && (box->textInteractionFlags() & Qt::TextSelectableByMouse));
    }

    // The config file's folder goes to the desktop; a desktop that cannot open it gets a toast.
    void openConfigFolder()
    {
        const QString path = ClientCatalogue::configPath("cursor");
        QVERIFY(TestEnv::writeFile(path, "{}"));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
        ClientMenu menu(&m_model, detected("cursor"), QStringLiteral("safe_edit"));
        QSignalSpy toasts(&menu, &ClientMenu::showToast);
        action(menu, "Open Config File")->trigger();
        QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(QFileInfo(path).absolutePath())});
        QCOMPARE(toasts.count(), 0);

        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        action(menu, "Open Config File")->trigger(); // the offscreen desktop opens nothing
        QCOMPARE(toasts,
                 QList<QVariantList>({{"Could not open the folder " + QFileInfo(path).absolutePath() + ".", 2}}));
    }

    // Opened as the page opens it: the menu outlives its closing while its dialog is open, then
    // goes; a menu closed without a choice goes at once.
    void popupLifetime()
    {
        QVERIFY(TestEnv::writeFile(ClientCatalogue::configPath("cursor"), s_cursorEntry));
        QWidget page;
        page.show();
        QPointer<ClientMenu> menu = new ClientMenu(&m_model, detected("cursor"), QStringLiteral("safe_edit"), &page);
        menu->popup(page.mapToGlobal(QPoint(10, 10)));
        QTRY_VERIFY(menu->isVisible());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action(*menu, "Show Entry")).center());
        EntryDialog *dialog = shownWindow<EntryDialog>();
        QVERIFY(dialog);
        QCOMPARE(dialog->parentWidget(), &page);
        QVERIFY(dialog->isModal() || dialog->windowModality() != Qt::NonModal);
        // The menu's clean-up after closing has run, deletions included.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(menu && !menu->isVisible());
        dialog->reject();
        QTRY_VERIFY(!menu);

        menu = new ClientMenu(&m_model, detected("cursor"), QStringLiteral("safe_edit"), &page);
        menu->popup(page.mapToGlobal(QPoint(10, 10)));
        QTRY_VERIFY(menu->isVisible());
        menu->hide();
        QTRY_VERIFY(!menu);
    }
};

TAVRIN_TEST_MAIN(TestClientMenu)
#include "tst_gui_clientmenu.moc"
