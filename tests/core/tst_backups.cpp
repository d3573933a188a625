#include "core/backups.h"
#include "testenv.h"

#include <QDirIterator>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTimeZone>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

using Perms = QFileDevice::Permissions;
Q_DECLARE_METATYPE(Backups::Content)
Q_DECLARE_METATYPE(ClientCatalogue::Syntax)

namespace {

const Perms s_private = QFile::ReadOwner | QFile::WriteOwner;
const Perms s_shared = s_private | QFile::ReadGroup | QFile::ReadOther;
const Perms s_ownerOnlyFolder = s_private | QFile::ExeOwner;
const char *s_childFlag = "--backup-as-child";

// Owner, group and other bits only: the "user" bits depend on who asks.
Perms unixBits(const QString &path)
{
    return QFile::permissions(path) & Perms(0x7077);
}

QString config(const QString &name)
{
    return TestEnv::home() + QLatin1String("/cfg/") + name;
}

bool writeConfig(const QString &path, const QByteArray &bytes, Perms perms = s_shared)
{
    return TestEnv::writeFile(path, bytes) && QFile::setPermissions(path, perms);
}

QStringList names(const QString &clientId)
{
    return QDir(Backups::clientFolder(clientId)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Every file and folder under the data folder, with its bytes.
QMap<QString, QByteArray> snapshot()
{
    QMap<QString, QByteArray> result;
    QDirIterator it(TestEnv::dataHome(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        result.insert(path, it.fileInfo().isDir() ? QByteArray("<dir>") : TestEnv::readFile(path));
    }
    return result;
}

// A row of listTellsWhatEachHolds: what `bytes` read in `syntax` hold.
void held(const char *name, ClientCatalogue::Syntax syntax, const QByteArray &bytes, Backups::Content content,
          const QString &mode = {}, const QStringList &serversPath = {"mcpServers"}, const QString &envKey = "env")
{
    QTest::newRow(name) << syntax << serversPath << envKey << bytes << content << mode;
}

} // namespace

class TestBackups : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        const QString tavrin = TestEnv::dataHome() + QLatin1String("/Tavrin");
        QFile::remove(tavrin);
        QVERIFY(QDir(tavrin).removeRecursively());
        QVERIFY(QDir(TestEnv::home()).removeRecursively() && QDir().mkpath(TestEnv::home()));
    }

    void backupKeepsBytesAndPermissions_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Perms>("perms");
        QTest::addColumn<Perms>("folderBefore"); // 0: no backups folder yet
        QTest::newRow("private json") << ".claude.json" << QByteArray(R"({"apiKey": "sk-1"})") << s_private << Perms();
        QTest::newRow("shared toml") << "config.toml" << QByteArray("[a]\nb = 1\n") << s_shared << Perms();
        QTest::newRow("read-only") << "mcp.json" << QByteArray("{}") << Perms(QFile::ReadOwner) << Perms();
        QTest::newRow("empty") << "mcp.json" << QByteArray() << s_shared << Perms();
        QTest::newRow("binary") << "x.json" << QByteArray("\0\xff\xfe{\n", 5) << s_private << Perms();
        QTest::newRow("open folder made private") << "mcp.json" << QByteArray("{}") << s_private << Perms(0x7555);
    }
    void backupKeepsBytesAndPermissions()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QFETCH(Perms, perms);
        QFETCH(Perms, folderBefore);
        const QString source = config(fileName);
        QVERIFY(writeConfig(source, bytes, perms));
        if (folderBefore) {
            QVERIFY(QDir().mkpath(Backups::backupsFolder()));
            QVERIFY(QFile::setPermissions(Backups::backupsFolder(), folderBefore));
        }
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const QString id = QStringLiteral("claude-code");
        Backups backups;
        QString created;
        QVERIFY2(backups.backup(id, source, &created), qPrintable(backups.lastError()));

        const QString name = QFileInfo(created).fileName();
        QCOMPARE(names(id), QStringList{name});
        const QString pattern = R"(^\d{8}-\d{6}-\d{3}-)" + QRegularExpression::escape(fileName) + '$';
        QVERIFY2(QRegularExpression(pattern).match(name).hasMatch(), qPrintable(name));
        QCOMPARE(TestEnv::readFile(created), bytes);
        QCOMPARE(unixBits(created), perms);
        QCOMPARE(TestEnv::readFile(source), bytes);
        QCOMPARE(unixBits(Backups::backupsFolder()), s_ownerOnlyFolder);
        QCOMPARE(unixBits(Backups::clientFolder(id)), s_ownerOnlyFolder);
        const QList<Backups::Backup> listed = backups.list(id, {});
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed.first().path, created);
        QCOMPARE(listed.first().size, bytes.size());
        QVERIFY(listed.first().time >= before.addMSecs(-1) && listed.first().time <= QDateTime::currentDateTimeUtc());
    }

    void missingFileNeedsNoBackup()
    {
        Backups backups;
        QString created = QStringLiteral("stale");
        QVERIFY(backups.backup(QStringLiteral("codex"), config(QStringLiteral("config.toml")), &created));
        QVERIFY(created.isEmpty());
        QVERIFY(backups.lastError().isEmpty());
        QVERIFY(!QFileInfo::exists(Backups::backupsFolder()));
    }

    // The 21st backup drops the oldest; names taken in a burst stay unique and in order.
    void keepsTheNewestPerClient()
    {
        const QString folder = Backups::clientFolder(QStringLiteral("cursor"));
        const QDateTime old(QDate(2020, 1, 1), QTime(12, 0), QTimeZone::utc());
        for (int i = 0; i < Backups::KeptPerClient; ++i)
            QVERIFY(TestEnv::writeFile(folder + '/' + Backups::backupFileName(old.addSecs(i), "mcp.json", {}), "old"));
        const QString otherClient = Backups::clientFolder(QStringLiteral("windsurf")) + "/20000101-000000-000-x.json";
        QVERIFY(TestEnv::writeFile(otherClient, "other"));
        const QString source = config(QStringLiteral("mcp.json"));
        QVERIFY(writeConfig(source, "0"));

        Backups backups;
        QVERIFY(backups.backup(QStringLiteral("cursor"), source));
        QStringList now = names(QStringLiteral("cursor"));
        QCOMPARE(now.size(), Backups::KeptPerClient);
        QVERIFY(!now.contains(Backups::backupFileName(old, "mcp.json", {})));
        QVERIFY(now.contains(Backups::backupFileName(old.addSecs(1), "mcp.json", {})));

        for (int i = 1; i <= 25; ++i) {
            QVERIFY(writeConfig(source, QByteArray::number(i)));
            QVERIFY2(backups.backup(QStringLiteral("cursor"), source), qPrintable(backups.lastError()));
        }
        const QList<Backups::Backup> listed = backups.list(QStringLiteral("cursor"), {});
        now = names(QStringLiteral("cursor")); // sorted by name
        QCOMPARE(listed.size(), Backups::KeptPerClient);
        QCOMPARE(now.size(), Backups::KeptPerClient);
        for (int i = 0; i < listed.size(); ++i) {
            QCOMPARE(TestEnv::readFile(listed.at(i).path), QByteArray::number(25 - i));
            QCOMPARE(QFileInfo(listed.at(i).path).fileName(), now.at(now.size() - 1 - i));
        }
        QCOMPARE(TestEnv::readFile(otherClient), QByteArray("other"));
    }

    void namesSortByTime_data()
    {
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("expected");
        QTest::newRow("free") << QStringList() << "20250102-030405-006-config.toml";
        QTest::newRow("other millisecond")
            << QStringList{"20250102-030405-007-config.toml"} << "20250102-030405-006-config.toml";
        QTest::newRow("same millisecond")
            << QStringList{"20250102-030405-006-config.toml"} << "20250102-030405-006.01-config.toml";
        QTest::newRow("same millisecond, other file")
            << QStringList{"20250102-030405-006-.claude.json"} << "20250102-030405-006.01-config.toml";
        QTest::newRow("counter goes on") << QStringList{"20250102-030405-006-config.toml",
                                                        "20250102-030405-006.01-config.toml",
                                                        "20250102-030405-006.09-a.json"}
                                         << "20250102-030405-006.10-config.toml";
    }
    void namesSortByTime()
    {
        QFETCH(QStringList, taken);
        QFETCH(QString, expected);
        // Given in local time two hours ahead of UTC: names are in UTC.
        const QDateTime time(QDate(2025, 1, 2), QTime(5, 4, 5, 6), QTimeZone(2 * 3600));
        const QString name = Backups::backupFileName(time, QStringLiteral("config.toml"), taken);
        QCOMPARE(name, expected);
        QDateTime parsed;
        qint64 order = 0;
        QVERIFY(Backups::parseBackupFileName(name, &parsed, &order));
        QCOMPARE(parsed, time);
        QCOMPARE(parsed.offsetFromUtc(), 0);
        for (const QString &other : taken) {
            qint64 otherOrder = 0;
            QVERIFY(Backups::parseBackupFileName(other, nullptr, &otherOrder));
            QCOMPARE(other < name, otherOrder < order);
        }
    }

    void restore_data()
    {
        QTest::addColumn<bool>("targetDeleted");
        QTest::addColumn<bool>("restoreOldestOfFullSet");
        QTest::newRow("target changed since") << false << false;
        QTest::newRow("target deleted since") << true << false;
        QTest::newRow("oldest of a full set") << false << true;
    }
    void restore()
    {
        QFETCH(bool, targetDeleted);
        QFETCH(bool, restoreOldestOfFullSet);
        const QString id = QStringLiteral("codex");
        const QString target = config(QStringLiteral("config.toml"));
        const QByteArray saved("[mcp_servers.tavrin]\ncommand = \"uvx\"\n");
        QVERIFY(writeConfig(target, saved, s_private));
        Backups backups;
        QString chosen;
        QVERIFY(backups.backup(id, target, &chosen));
        for (int i = 1; restoreOldestOfFullSet && i < Backups::KeptPerClient; ++i) {
            QVERIFY(writeConfig(target, QByteArray::number(i), s_private));
            QVERIFY(backups.backup(id, target));
        }
        const QByteArray current("# replaced\n");
        QVERIFY(targetDeleted ? QFile::remove(target) : writeConfig(target, current, s_shared));
        const QStringList before = names(id);

        QVERIFY2(backups.restore(id, chosen, target), qPrintable(backups.lastError()));
        QCOMPARE(TestEnv::readFile(target), saved);
        QCOMPARE(unixBits(target), s_private);
        const QStringList after = names(id);
        if (targetDeleted) {
            QCOMPARE(after, before);
            return;
        }
        // The replaced file is now the newest backup, with its bytes and permissions.
        const Backups::Backup newest = backups.list(id, {}).first();
        QVERIFY(!before.contains(QFileInfo(newest.path).fileName()));
        QCOMPARE(TestEnv::readFile(newest.path), current);
        QCOMPARE(unixBits(newest.path), s_shared);
        QCOMPARE(after.size(), std::min<qsizetype>(before.size() + 1, Backups::KeptPerClient));
    }

    void restoreTakesOnlyTheClientsOwnBackups_data()
    {
        QTest::addColumn<QString>("backupPath"); // "@": the codex folder, "%": the cursor folder
        QTest::newRow("another client's") << "%/20250101-000000-000-config.toml";
        QTest::newRow("climbing out") << "@/../cursor/20250101-000000-000-config.toml";
        QTest::newRow("outside") << TestEnv::home() + "/20250101-000000-000-config.toml";
        QTest::newRow("link to outside") << "@/20250101-000000-001-config.toml";
        QTest::newRow("not a backup name") << "@/notes.txt";
        QTest::newRow("missing") << "@/20250101-000000-002-config.toml";
    }
    void restoreTakesOnlyTheClientsOwnBackups()
    {
        QFETCH(QString, backupPath);
        const QString codex = Backups::clientFolder(QStringLiteral("codex"));
        backupPath.replace('@', codex).replace('%', Backups::clientFolder(QStringLiteral("cursor")));
        const QString outside = TestEnv::home() + "/20250101-000000-000-config.toml";
        QVERIFY(TestEnv::writeFile(Backups::clientFolder(QStringLiteral("cursor")) + "/20250101-000000-000-config.toml",
                                   "foreign"));
        QVERIFY(TestEnv::writeFile(outside, "foreign"));
        QVERIFY(TestEnv::writeFile(codex + "/notes.txt", "foreign"));
        QVERIFY(QFile::link(outside, codex + "/20250101-000000-001-config.toml"));
        const QString target = config(QStringLiteral("config.toml"));
        QVERIFY(writeConfig(target, "mine"));
        const QMap<QString, QByteArray> before = snapshot();

        Backups backups;
        QVERIFY(!backups.restore(QStringLiteral("codex"), backupPath, target));
        QVERIFY2(backups.lastError().contains(backupPath), qPrintable(backups.lastError()));
        QCOMPARE(TestEnv::readFile(target), QByteArray("mine"));
        QCOMPARE(snapshot(), before);
    }

    void failureChangesNothing_data()
    {
        QTest::addColumn<QString>("inTheWay"); // made a file
        QTest::addColumn<bool>("sourceIsFolder");
        QTest::addColumn<QString>("named");
        const QString tavrin = TestEnv::dataHome() + "/Tavrin";
        QTest::newRow("file in place of the backups folder") << tavrin + "/backups" << false << tavrin + "/backups";
        QTest::newRow("file in place of the client folder")
            << tavrin + "/backups/codex" << false << tavrin + "/backups/codex";
        QTest::newRow("file in place of the app's folder") << tavrin << false << tavrin + "/backups";
        QTest::newRow("source cannot be read") << QString() << true << config("config.toml");
    }
    void failureChangesNothing()
    {
        QFETCH(QString, inTheWay);
        QFETCH(bool, sourceIsFolder);
        QFETCH(QString, named);
        const QString source = config(QStringLiteral("config.toml"));
        QVERIFY(sourceIsFolder ? QDir().mkpath(source) : writeConfig(source, "keep me"));
        QVERIFY(inTheWay.isEmpty() || TestEnv::writeFile(inTheWay, "in the way"));
        const QMap<QString, QByteArray> before = snapshot();

        Backups backups;
        QVERIFY(!backups.backup(QStringLiteral("codex"), source));
        QVERIFY2(backups.lastError().contains(named), qPrintable(backups.lastError()));
        QCOMPARE(snapshot(), before);
        QVERIFY(sourceIsFolder || TestEnv::readFile(source) == "keep me");
    }

    // Permissions bind only a user who is not root: as root, the backup runs in a child process
    // that gives up root first.
    void readOnlyFolderRefused()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), Perms(0x7555)));
        const QString data = dir.path() + "/data", folder = data + "/Tavrin/backups/codex";
        const QString source = dir.path() + "/config.toml";
        QVERIFY(QDir().mkpath(folder) && writeConfig(source, "keep me"));
        const bool root = geteuid() == 0;
        const passwd *nobody = getpwnam("nobody");
        if (root && !nobody)
            QSKIP("No unprivileged user to run the backup as");
        const uid_t uid = root ? nobody->pw_uid : geteuid();
        const gid_t gid = root ? nobody->pw_gid : getegid();
        for (const QString &path : {data, data + "/Tavrin", data + "/Tavrin/backups", folder})
            QVERIFY(chown(path.toLocal8Bit().constData(), uid, gid) == 0);
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));

        bool ok = false;
        QString message;
        if (root) {
            const QString program = dir.path() + "/tst_backups";
            QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_DATA_HOME", data);
            child.setProcessEnvironment(env);
            child.setChildProcessModifier([uid, gid] {
                if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
                    _exit(126);
            });
            child.start(program, {s_childFlag, QStringLiteral("codex"), source});
            QVERIFY(child.waitForFinished(60000));
            QVERIFY2(child.exitCode() == 0 || child.exitCode() == 1, child.readAllStandardError().constData());
            ok = child.exitCode() == 0;
            message = QString::fromUtf8(child.readAllStandardOutput());
        } else {
            const QByteArray saved = qgetenv("XDG_DATA_HOME");
            qputenv("XDG_DATA_HOME", data.toUtf8());
            Backups backups;
            ok = backups.backup(QStringLiteral("codex"), source);
            message = backups.lastError();
            qputenv("XDG_DATA_HOME", saved);
        }
        QVERIFY(!ok);
        QVERIFY2(message.contains(folder), qPrintable(message));
        QVERIFY(QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QCOMPARE(TestEnv::readFile(source), QByteArray("keep me"));
        QVERIFY(QFile::setPermissions(folder, s_ownerOnlyFolder));
    }

    void listTellsWhatEachHolds_data()
    {
        using C = Backups::Content;
        using S = ClientCatalogue::Syntax;
        QTest::addColumn<S>("syntax");
        QTest::addColumn<QStringList>("serversPath");
        QTest::addColumn<QString>("envKey");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<C>("content");
        QTest::addColumn<QString>("mode");
        const QStringList toml{"mcp_servers"};
        const auto json = [](const char *servers) {
            return QByteArray(R"({"other": 1, "mcpServers": {"x": {"command": "y"})") + servers + "}}";
        };
        const auto entry = [&](const char *env) {
            return json(QByteArray(R"(, "tavrin": {"command": "uvx", "args": ["tavrin"])") + env + "}");
        };
        held("json safe edit", S::Json, entry(R"(, "env": {"GODOT_MCP_PERMISSION_MODE": "safe_edit"})"), C::SafeEdit,
             "safe_edit");
        held("json entry without mode", S::Json, entry(""), C::NoMode);
        held("json other servers only", S::Json, json(""), C::NoEntry);
        held("json null entry", S::Json, json(R"(, "tavrin": null)"), C::NoEntry);
        held("json truncated", S::Json, json("").chopped(1), C::Unreadable);
        held("json array", S::Json, "[]", C::Unreadable);
        held("comments in plain json", S::Json, "// mine\n" + entry(""), C::Unreadable);
        held("jsonc vs code", S::Jsonc,
             "// user servers\n{\"servers\": {/* ours */ \"tavrin\": {\n"
             "  \"env\": {\"GODOT_MCP_PERMISSION_MODE\": \"a//b/*c*/,}\",},\n},}, \"inputs\": [1, 2,],}",
             C::OtherMode, "a//b/*c*/,}", {"servers"});
        held("jsonc zed", S::Jsonc,
             "{\"context_servers\": {\"tavrin\": {\"env\": {\"GODOT_MCP_PERMISSION_MODE\": \"full_control\"}}}} // end",
             C::FullControl, "full_control", {"context_servers"});
        held("jsonc opencode", S::Jsonc,
             R"({"mcp": {"tavrin": {"command": ["uvx", "tavrin"],
                "environment": {"GODOT_MCP_PERMISSION_MODE": "safe_edit"}}}})",
             C::SafeEdit, "safe_edit", {"mcp"}, "environment");
        held("jsonc opencode, env member", S::Jsonc,
             R"({"mcp": {"servers": {"tavrin": {"env": {"GODOT_MCP_PERMISSION_MODE": "safe_edit"}}}}})", C::NoMode, "",
             {"mcp", "servers"}, "environment");
        held("jsonc unclosed comment", S::Jsonc, "/* " + entry(""), C::Unreadable);
        held("toml as codex writes it", S::Toml,
             "[mcp_servers.other]\ncommand = \"uvx\"\nargs = [\"foo\"]\n\n[mcp_servers.other.env]\n"
             "GODOT_MCP_PERMISSION_MODE = \"x\"\n\n[mcp_servers.tavrin]\ncommand = \"uvx\"\nargs = [\"tavrin\"]\n\n"
             "[mcp_servers.tavrin.env]\nGODOT_MCP_PERMISSION_MODE = \"full_control\"\n",
             C::FullControl, "full_control", toml);
        held("toml inline env", S::Toml,
             "model = 'o3' # mine\r\n[mcp_servers.tavrin]\r\ncommand = \"uvx\"\r\n"
             "env = { GODOT_MCP_PERMISSION_MODE = \"safe_edit\" }",
             C::SafeEdit, "safe_edit", toml);
        held("toml inline entry, quoted keys", S::Toml,
             "[mcp_servers]\n\"tavrin\" = { command = \"uvx\", env = { 'GODOT_MCP_PERMISSION_MODE' = "
             "'full\\control' } }\n",
             C::OtherMode, "full\\control", toml);
        held("toml dotted keys", S::Toml, "mcp_servers . tavrin.env.GODOT_MCP_PERMISSION_MODE = \"\\u0073afe_edit\"\n",
             C::SafeEdit, "safe_edit", toml);
        held("toml everything else, no entry", S::Toml,
             "notes = \"\"\"\n[mcp_servers.tavrin]\nenv = 1 \\\n  \"\"\"\nraw = '''x'''\n"
             "when = 1979-05-27 07:32:00Z\nn = [ 1_000, 0x1f, -3.5e2, inf, # c\n true,\n]\n"
             "[[profiles]]\nname = 'a'\n[[profiles]]\nname = 'b'\n[profiles.deep]\nx = {}\n"
             "[mcp_servers.other]\ncommand = \"y\"\n",
             C::NoEntry, "", toml);
        held("toml unclosed header", S::Toml, "[mcp_servers.tavrin\ncommand = \"uvx\"\n", C::Unreadable, "", toml);
        held("toml key twice", S::Toml, "[mcp_servers.tavrin]\ncommand = \"a\"\ncommand = \"b\"\n", C::Unreadable, "",
             toml);
        held("toml bare word", S::Toml, "[mcp_servers.tavrin]\ncommand = uvx\n", C::Unreadable, "", toml);
        held("toml json", S::Toml, entry(""), C::Unreadable, "", toml);
        held("toml not utf-8", S::Toml, "a = \"\xff\"\n", C::Unreadable, "", toml);
    }
    void listTellsWhatEachHolds()
    {
        QFETCH(ClientCatalogue::Syntax, syntax);
        QFETCH(QStringList, serversPath);
        QFETCH(QString, envKey);
        QFETCH(QByteArray, bytes);
        QFETCH(Backups::Content, content);
        QFETCH(QString, mode);
        const QString source = config(QStringLiteral("config"));
        QVERIFY(writeConfig(source, bytes));
        Backups backups;
        QVERIFY(backups.backup(QStringLiteral("some-client"), source));
        ClientCatalogue::FileLayout layout{syntax, serversPath, {}};
        layout.entry.envKey = envKey;
        const QList<Backups::Backup> listed = backups.list(QStringLiteral("some-client"), layout);
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed.first().content, content);
        QCOMPARE(listed.first().mode, mode);
        QCOMPARE(listed.first().size, bytes.size());
        if (content == Backups::Content::Unreadable)
            QVERIFY(listed.first().summary.endsWith(syntax == ClientCatalogue::Syntax::Toml ? "TOML" : "JSON"));
    }

    void badClientIdsAreRefused_data()
    {
        QTest::addColumn<QString>("id");
        for (const char *id : {"", "Codex", "../codex", "a/b", "a b", "..", "codex\n", "c\\d", "ü"})
            QTest::newRow(("id " + QByteArray(id).toPercentEncoding()).constData()) << QString::fromUtf8(id);
    }
    void badClientIdsAreRefused()
    {
        QFETCH(QString, id);
        const QString source = config(QStringLiteral("config.toml"));
        QVERIFY(writeConfig(source, "x"));
        QVERIFY(TestEnv::writeFile(Backups::clientFolder("codex") + "/20250101-000000-000-config.toml", "y"));
        const QMap<QString, QByteArray> before = snapshot();
        Backups backups;
        QVERIFY(Backups::clientFolder(id).isEmpty());
        QVERIFY(!backups.backup(id, source));
        QVERIFY(!backups.lastError().isEmpty());
        QVERIFY(backups.list(id, {}).isEmpty());
        QVERIFY(!backups.lastError().isEmpty());
        QVERIFY(!backups.restore(id, Backups::clientFolder("codex") + "/20250101-000000-000-config.toml", source));
        QCOMPARE(snapshot(), before);
        QCOMPARE(TestEnv::readFile(source), QByteArray("x"));
    }
};

// The test, and (with the child flag) one backup run on behalf of readOnlyFolderRefused, in the
// environment that test sets up.
int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], s_childFlag) == 0) {
        QCoreApplication app(argc, argv);
        Backups backups;
        const bool ok = backups.backup(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
        fputs(backups.lastError().toUtf8().constData(), stdout);
        return ok ? 0 : 1;
    }
    TestEnv::isolate(false);
    QCoreApplication app(argc, argv);
    TestBackups tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_backups.moc"
