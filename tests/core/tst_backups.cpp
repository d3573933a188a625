#include "core/backups.h"
#include "core/clients.h"
#include "killtrial.h"
#include "testenv.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTimeZone>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#endif

using Perms = QFileDevice::Permissions;
using TestEnv::row;
Q_DECLARE_METATYPE(Backups::Content)
Q_DECLARE_METATYPE(ClientCatalogue::Syntax)

namespace {

const Perms s_private = QFile::ReadOwner | QFile::WriteOwner;
const Perms s_shared = s_private | QFile::ReadGroup | QFile::ReadOther;
const Perms s_ownerOnlyFolder = s_private | QFile::ExeOwner;
const char *s_childFlag = "--backup-as-child";
const char *s_loopFlag = "--kill-trial-loop";

// The restore trials' two versions, each with its own mode.
const QByteArray s_versionA = "{\"theme\": \"A\"}\n";
const QByteArray s_versionB = "{\"theme\": \"B\", \"apiKey\": \"sk-1\"}\n";

// Owner, group and other bits only: the "user" bits depend on who asks.
Perms unixBits(const QString &path)
{
    return QFile::permissions(path) & Perms(0x7077);
}

// Whether path has the mode bits given; Windows has none to compare.
bool hasMode(const QString &path, Perms perms)
{
    return !TestEnv::unixFiles || unixBits(path) == perms;
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

// The child of the kill trials: one operation again and again until it is killed, a line after
// each. "edit" registers Cursor in either mode in turn; "restore" puts the newest backup of
// `config` back, "restore-missing" removes the config again after each restore.
int trialLoop(const QString &scenario, const QString &config)
{
    for (int i = 0;; ++i) {
        bool ok = false;
        if (scenario == QLatin1String("edit")) {
            ok = Clients().writeConfig(QStringLiteral("cursor"), i % 2 ? "safe_edit" : "full_control");
        } else {
            Backups backups;
            const QList<Backups::Backup> listed = backups.list(QStringLiteral("trials"), {});
            ok = !listed.isEmpty() && backups.restore(QStringLiteral("trials"), listed.first().path, config) &&
                 (scenario == QLatin1String("restore") || QFile::remove(config));
        }
        if (!ok)
            return 1;
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
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

    // A copy keeps the bytes and mode, in a folder only its owner may enter. Nothing to lose, or
    // saved already, makes no copy; the newest copy's bytes in another mode make one.
    void backup_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("bytes"); // null: no file
        QTest::addColumn<Perms>("perms");
        QTest::addColumn<Perms>("folderBefore"); // 0: no backups folder yet
        QTest::addColumn<bool>("saved");         // a copy of "saved" (0600) is taken first
        QTest::addColumn<bool>("copied");
        using B = QByteArray;
        row("private json", ".claude.json", B(R"({"apiKey": "sk-1"})"), s_private, Perms(), false, true);
        row("shared toml", "config.toml", B("[a]\nb = 1\n"), s_shared, Perms(), false, true);
        row("read-only", "mcp.json", B("{}"), Perms(QFile::ReadOwner), Perms(), false, true);
        row("binary", "x.json", B("\0\xff\xfe{\n", 5), s_private, Perms(), false, true);
        row("open folder made private", "mcp.json", B("{}"), s_private, Perms(0x7555), false, true);
        row("missing", "config.toml", B(), s_private, Perms(), false, false);
        row("empty", "config.toml", B(""), s_private, Perms(), false, false);
        row("as the newest copy", "config.toml", B("saved"), s_private, Perms(), true, false);
        if (TestEnv::unixFiles)
            row("newest copy's bytes, other mode", "config.toml", B("saved"), s_shared, Perms(), true, true);
    }
    void backup()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, bytes);
        QFETCH(Perms, perms);
        QFETCH(Perms, folderBefore);
        QFETCH(bool, saved);
        QFETCH(bool, copied);
        const QString source = config(fileName), id = QStringLiteral("claude-code");
        Backups backups;
        if (saved)
            QVERIFY(writeConfig(source, "saved", s_private) && backups.backup(id, source) && names(id).size() == 1);
        if (folderBefore)
            QVERIFY(QDir().mkpath(Backups::backupsFolder()) &&
                    QFile::setPermissions(Backups::backupsFolder(), folderBefore));
        QVERIFY(bytes.isNull() || writeConfig(source, bytes, perms));
        const QDateTime before = QDateTime::currentDateTimeUtc();
        QString created = QStringLiteral("stale");
        QVERIFY2(backups.backup(id, source, &created), qPrintable(backups.lastError()));
        QVERIFY(backups.lastError().isEmpty());
        QCOMPARE(names(id).size(), int(saved) + int(copied));
        QCOMPARE(QFileInfo::exists(Backups::backupsFolder()), saved || copied || folderBefore);
        QCOMPARE(created.isEmpty(), !copied);
        if (!copied)
            return;

        const QString name = QFileInfo(created).fileName();
        QVERIFY(names(id).contains(name));
        const QString pattern = R"(^\d{8}-\d{6}-\d{3}-)" + QRegularExpression::escape(fileName) + '$';
        QVERIFY2(QRegularExpression(pattern).match(name).hasMatch(), qPrintable(name));
        QCOMPARE(TestEnv::readFile(created), bytes);
        QCOMPARE(TestEnv::readFile(source), bytes);
        if (TestEnv::unixFiles) {
            QCOMPARE(unixBits(created), perms);
            QCOMPARE(unixBits(Backups::backupsFolder()), s_ownerOnlyFolder);
            QCOMPARE(unixBits(Backups::clientFolder(id)), s_ownerOnlyFolder);
        }
        const Backups::Backup newest = backups.list(id, {}).first();
        QCOMPARE(newest.path, created);
        QCOMPARE(newest.size, bytes.size());
        QVERIFY(newest.time >= before.addMSecs(-1) && newest.time <= QDateTime::currentDateTimeUtc());
    }

    // A new backup drops the oldest beyond the newest 20 but the very first, the file before our
    // first change; names taken in a burst stay unique and in order. What is not a whole backup
    // neither counts nor shows: empty files and hidden temporaries that killed backups left are
    // removed, anything that is no file is left alone (and never opened).
    void keepsTheNewestAndTheOriginal()
    {
        const QString id = QStringLiteral("cursor"), folder = Backups::clientFolder(id);
        const QDateTime old(QDate(2020, 1, 1), QTime(12, 0), QTimeZone::utc());
        const auto name = [&](int second) { return Backups::backupFileName(old.addSecs(second), "mcp.json", {}); };
        for (int i = 0; i <= Backups::KeptPerClient; ++i)
            QVERIFY(TestEnv::writeFile(folder + '/' + name(i), "old " + QByteArray::number(i)));
        const QStringList gone{name(30), '.' + name(31) + ".tavrin-write-Ab12Cd", ".x.json.tavrin-write-000000"};
        for (const QString &leftover : gone)
            QVERIFY(TestEnv::writeFile(folder + '/' + leftover, leftover.startsWith('.') ? "whole" : ""));
        // Windows has no FIFO: a second folder stands for what is no file.
        QVERIFY(TestEnv::makeFifo(folder + '/' + name(32)) || QDir().mkpath(folder + '/' + name(32)));
        QVERIFY(QDir().mkpath(folder + '/' + name(33)));
        const QString otherClient = Backups::clientFolder(QStringLiteral("windsurf")) + "/20000101-000000-000-x.json";
        QVERIFY(TestEnv::writeFile(otherClient, "other"));
        const QString source = config(QStringLiteral("mcp.json"));

        Backups backups;
        for (int i = 1; i <= 25; ++i) {
            QVERIFY(writeConfig(source, QByteArray::number(i)));
            QVERIFY2(backups.backup(id, source), qPrintable(backups.lastError()));
            const QStringList now = names(id);
            QVERIFY(now.contains(name(0)));
            QCOMPARE(now.contains(name(2)), i == 1);
            for (const QString &leftover : gone)
                QVERIFY(!now.contains(leftover));
        }
        const QList<Backups::Backup> listed = backups.list(id, {});
        QCOMPARE(listed.size(), Backups::KeptPerClient + 1);
        QCOMPARE(Backups::count(id), Backups::KeptPerClient + 1);
        for (int i = 0; i < Backups::KeptPerClient; ++i) {
            QCOMPARE(TestEnv::readFile(listed.at(i).path), QByteArray::number(25 - i));
            QVERIFY(!listed.at(i).original);
        }
        QCOMPARE(listed.last().path, folder + '/' + name(0));
        QVERIFY(listed.last().original);
        const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(folder).entryList(all).size(), Backups::KeptPerClient + 3); // with the FIFO and the folder
        QCOMPARE(TestEnv::readFile(otherClient), QByteArray("other"));
    }

    // A process that edits a config (with a backup each time) or restores one over and over is
    // killed at random moments. After each kill every backup name holds a whole copy, the config
    // is one whole version with that version's mode (or absent, where it was), and once the next
    // operation ran nothing of ours is left beside them.
    void killedBackupsAndRestoresLeaveWholeFiles_data()
    {
        QTest::addColumn<QString>("scenario");
        row("backup and edit", "edit");
        row("restore over the config", "restore");
        row("restore onto a missing config", "restore-missing");
    }
    void killedBackupsAndRestoresLeaveWholeFiles()
    {
        QFETCH(QString, scenario);
        const bool edit = scenario == "edit", missing = scenario == "restore-missing";
        const QString id = edit ? QStringLiteral("cursor") : QStringLiteral("trials");
        const QString path = edit ? ClientCatalogue::configPath(id) : config(QStringLiteral("settings.json"));
        const QString folder = QFileInfo(path).absolutePath(), backupsFolder = Backups::clientFolder(id);
        // Whole: a version of the config as it was written. The edited config keeps its mode; a
        // restored one has the mode of its version.
        const auto whole = [&](const QByteArray &bytes) {
            return edit ? QJsonDocument::fromJson(bytes).object().value("theme") == "dark"
                        : bytes == s_versionA || bytes == s_versionB;
        };
        const auto consistent = [&] {
            if (!QFileInfo::exists(path))
                return missing;
            const QByteArray bytes = TestEnv::readFile(path);
            return edit ? whole(bytes) && hasMode(path, s_private)
                        : (bytes == s_versionA && hasMode(path, s_shared)) ||
                              (bytes == s_versionB && hasMode(path, s_private));
        };
        // Names of ours that are neither the config nor a whole backup.
        const auto strays = [&] {
            QStringList found;
            const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
            for (const QString &name : QDir(folder).entryList(all))
                if (name != QFileInfo(path).fileName())
                    found << name;
            for (const QString &name : QDir(backupsFolder).entryList(all))
                if (!Backups::parseBackupFileName(name, nullptr) ||
                    !whole(TestEnv::readFile(backupsFolder + '/' + name)))
                    found << name;
            return found;
        };
        if (edit)
            QVERIFY(writeConfig(path, R"({"theme": "dark", "mcpServers": {"other": {"command": "x"}}})", s_private));
        int interrupted = 0;
        const int trials = TestEnv::underWine() ? 10 : 25; // a process start takes a second under Wine
        for (int trial = 0; trial < trials; ++trial) {
            if (!edit) { // one backup of B, A in place (or nothing): each restore swaps them
                QVERIFY(QDir(backupsFolder).removeRecursively() && QDir(folder).removeRecursively());
                QVERIFY(writeConfig(path, s_versionB, s_private) && Backups().backup(id, path));
                QVERIFY(missing ? QFile::remove(path) : writeConfig(path, s_versionA, s_shared));
            }
            const QString killed = KillTrial::run({s_loopFlag, scenario, path});
            QVERIFY2(killed.isEmpty(), qPrintable(killed));
            const QStringList atKill = strays();
            interrupted += !atKill.isEmpty();
            for (const QString &name : atKill) // temporaries only: never a backup name
                QVERIFY2(name.contains(".tavrin-write-"),
                         qPrintable(QStringLiteral("trial %1: %2").arg(trial).arg(name)));
            QVERIFY2(consistent(), qPrintable(QStringLiteral("trial %1").arg(trial)));

            // The next operation, as the child did it (for the edit, twice: a write that changes
            // nothing takes no backup, and so leaves the backups folder alone).
            Backups backups;
            if (edit) {
                QVERIFY(Clients().writeConfig(id, "safe_edit") && Clients().writeConfig(id, "full_control"));
            } else {
                const QList<Backups::Backup> listed = backups.list(id, {});
                QVERIFY(!listed.isEmpty() && backups.restore(id, listed.first().path, path));
            }
            QCOMPARE(strays().join(" "), QString());
            QVERIFY(QFileInfo::exists(path) && consistent());
        }
        // Some kills land inside an operation, not between two. Not under Wine, where starting a
        // process and ending one take longer than an operation: there the trials show only that
        // kills between operations leave everything whole.
        if (TestEnv::underWine())
            qInfo("%d of %d kills landed inside an operation", interrupted, trials);
        else
            QVERIFY2(interrupted > 0, qPrintable(QString::number(interrupted)));
    }

    void namesSortByTime_data()
    {
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("expected");
        // "@": 20250102-030405-006, the millisecond of the name asked for.
        row("free", QStringList(), "@-config.toml");
        row("other millisecond", QStringList{"20250102-030405-007-config.toml"}, "@-config.toml");
        row("same millisecond", QStringList{"@-config.toml"}, "@.01-config.toml");
        row("same millisecond, other file", QStringList{"@-.claude.json"}, "@.01-config.toml");
        row("counter goes on", QStringList{"@-config.toml", "@.01-config.toml", "@.09-a.json"}, "@.10-config.toml");
    }
    void namesSortByTime()
    {
        QFETCH(QStringList, taken);
        QFETCH(QString, expected);
        taken.replaceInStrings("@", "20250102-030405-006");
        expected.replace('@', "20250102-030405-006");
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
        row("target changed since", false, false);
        row("target deleted since", true, false);
        row("oldest of a full set", false, true);
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
        QVERIFY(hasMode(target, s_private));
        const QStringList after = names(id);
        if (targetDeleted) {
            QCOMPARE(after, before);
            return;
        }
        // The replaced file is now the newest backup, with its bytes and permissions.
        const Backups::Backup newest = backups.list(id, {}).first();
        QVERIFY(!before.contains(QFileInfo(newest.path).fileName()));
        QCOMPARE(TestEnv::readFile(newest.path), current);
        QVERIFY(hasMode(newest.path, s_shared));
        QCOMPARE(after.size(), std::min<qsizetype>(before.size() + 1, Backups::KeptPerClient + 1));
    }

    // A restore takes only a backup from the client's own folder, and an id that could name another
    // folder is refused by every operation; either way nothing changes.
    void refusals_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("backupPath"); // "@": the codex folder, "%": the cursor folder
        row("another client's", "codex", "%/20250101-000000-000-config.toml");
        row("climbing out", "codex", "@/../cursor/20250101-000000-000-config.toml");
        row("outside", "codex", TestEnv::home() + "/20250101-000000-000-config.toml");
        if (TestEnv::unixFiles)
            row("link to outside", "codex", "@/20250101-000000-001-config.toml");
        row("not a backup name", "codex", "@/notes.txt");
        row("missing", "codex", "@/20250101-000000-002-config.toml");
        row("empty", "codex", "@/20250101-000000-003-config.toml");
        // Bad ids, with a whole backup of Codex's.
        for (const char *id : {"", "Codex", "../codex", "a/b", "a b", "..", "codex\n", "c\\d", "ü"})
            row(("id " + QByteArray(id).toPercentEncoding()).constData(), id, "@/20250101-000000-000-config.toml");
    }
    void refusals()
    {
        QFETCH(QString, id);
        QFETCH(QString, backupPath);
        const QString codex = Backups::clientFolder("codex"), cursor = Backups::clientFolder("cursor");
        backupPath.replace('@', codex).replace('%', cursor);
        const QString outside = TestEnv::home() + "/20250101-000000-000-config.toml";
        for (const QString &path : {cursor + "/20250101-000000-000-config.toml", outside, codex + "/notes.txt"})
            QVERIFY(TestEnv::writeFile(path, "foreign"));
        QVERIFY(TestEnv::writeFile(codex + "/20250101-000000-000-config.toml", "whole"));
        QVERIFY(!TestEnv::unixFiles || QFile::link(outside, codex + "/20250101-000000-001-config.toml"));
        QVERIFY(TestEnv::writeFile(codex + "/20250101-000000-003-config.toml", ""));
        const QString target = config(QStringLiteral("config.toml"));
        QVERIFY(writeConfig(target, "mine"));
        const QMap<QString, QByteArray> before = TestEnv::snapshot(TestEnv::dataHome());

        Backups backups;
        if (id != "codex") {
            QVERIFY(Backups::clientFolder(id).isEmpty());
            QVERIFY(!backups.backup(id, target) && !backups.lastError().isEmpty());
            QVERIFY(backups.list(id, {}).isEmpty() && !backups.lastError().isEmpty());
        }
        QVERIFY(!backups.restore(id, backupPath, target));
        QVERIFY2(id != "codex" || backups.lastError().contains(backupPath), qPrintable(backups.lastError()));
        QCOMPARE(TestEnv::readFile(target), QByteArray("mine"));
        QCOMPARE(TestEnv::snapshot(TestEnv::dataHome()), before);
    }

    // Asked first (canBackUp), the store says no as backup() does, naming the same cause, without
    // waiting on a FIFO.
    void failureChangesNothing_data()
    {
        QTest::addColumn<QString>("inTheWay"); // made a file
        QTest::addColumn<QString>("source");   // the config: "file", "folder" or "fifo"
        QTest::addColumn<QString>("named");
        const QString tavrin = TestEnv::dataHome() + "/Tavrin", file = QStringLiteral("file");
        row("file in place of the backups folder", tavrin + "/backups", file, tavrin + "/backups");
        row("file in place of the client folder", tavrin + "/backups/codex", file, tavrin + "/backups/codex");
        row("file in place of the app's folder", tavrin, file, tavrin + "/backups");
        row("source is a folder", QString(), "folder", config("config.toml"));
        row("source is a FIFO", QString(), "fifo", config("config.toml") + " to back it up: it is a FIFO");
    }
    void failureChangesNothing()
    {
        QFETCH(QString, inTheWay);
        QFETCH(QString, source);
        QFETCH(QString, named);
        if (source == "fifo" && !TestEnv::unixFiles)
            QSKIP("Windows has no FIFO");
        const QString path = config(QStringLiteral("config.toml"));
        QVERIFY(source == "folder" ? QDir().mkpath(path)
                : source == "fifo" ? TestEnv::makeFifo(path)
                                   : writeConfig(path, "keep me"));
        QVERIFY(inTheWay.isEmpty() || TestEnv::writeFile(inTheWay, "in the way"));
        const QMap<QString, QByteArray> before = TestEnv::snapshot(TestEnv::dataHome());

        Backups backups;
        QVERIFY(!backups.canBackUp(QStringLiteral("codex"), path));
        QVERIFY2(backups.lastError().contains(named), qPrintable(backups.lastError()));
        QVERIFY(!backups.backup(QStringLiteral("codex"), path));
        QVERIFY2(backups.lastError().contains(named), qPrintable(backups.lastError()));
        QCOMPARE(TestEnv::snapshot(TestEnv::dataHome()), before);
        QVERIFY(source != "file" || TestEnv::readFile(path) == "keep me");
    }

    // Permissions bind only a user who is not root: as root, the backup runs in a child process
    // that gives up root first.
    void readOnlyFolderRefused()
    {
#ifndef Q_OS_UNIX
        QSKIP("owners and mode bits are Unix's (Windows keeps access in ACLs)");
#else
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
#endif
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
};

// The test, and (with the child flag) one backup run on behalf of readOnlyFolderRefused, in the
// environment that test sets up.
int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], s_loopFlag) == 0) {
        QCoreApplication app(argc, argv);
        return trialLoop(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
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
