// Kills a process with SIGKILL at random moments while it saves settings, writes a client config,
// restores a client config from a backup or updates the addon over and over, and counts what the
// kill left: files that do not parse, entries lost, mixed addon trees, backups that do not hold a
// whole copy, configs whose mode does not belong to their content, and leftovers before and after
// the next operation. Linux only.
// Usage: bench_killtrials [trials]   (default 200 per scenario)

#include "core/addon.h"
#include "core/backups.h"
#include "core/clients.h"
#include "core/settings.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>

#include <csignal>
#include <cstdio>

namespace {

const QStringList s_modes{QStringLiteral("safe_edit"), QStringLiteral("full_control")};
constexpr int s_recent = 10;

QString cursorConfig()
{
    return TestEnv::home() + QLatin1String("/.cursor/mcp.json");
}

QStringList entriesBeside(const QString &folder, const QStringList &expected)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : expected)
        names.removeAll(name);
    return names;
}

// The restore scenarios' config: two versions, each with its own mode, so that a file whose mode
// does not go with its content shows.
// From HOME, which the children inherit (TestEnv::home() would be a fresh folder in a child).
QString zedConfig()
{
    return QDir::homePath() + QLatin1String("/.config/zed/settings.json");
}
const QByteArray s_versionA = "// mine\n{\"theme\": \"A\", \"context_servers\": {}}\n";
const QByteArray s_versionB = "// mine\n{\"theme\": \"B\", \"context_servers\": {}}\n";
constexpr QFileDevice::Permissions s_modeA = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
constexpr QFileDevice::Permissions s_modeB = QFile::ReadOwner | QFile::WriteOwner;

QFileDevice::Permissions modeOf(const QString &path)
{
    return QFile::permissions(path) & QFileDevice::Permissions(0x7077);
}

// --- The children: one operation again and again until killed; a line after each. ---

void signalRound(int i)
{
    std::printf("%d\n", i);
    std::fflush(stdout);
}

int settingsChild()
{
    Settings settings;
    for (int i = 0;; ++i) {
        settings.addRecentProject(QStringLiteral("/p/%1").arg(i % s_recent), QStringLiteral("P%1").arg(i));
        signalRound(i);
    }
}

int configChild()
{
    for (int i = 0;; ++i) {
        Clients clients;
        if (!clients.writeConfig(QStringLiteral("cursor"), s_modes.at(i % 2)))
            return 1;
        signalRound(i);
    }
}

// Restores the newest backup of Zed's config, which the restore before made of the file it
// replaced; with `missing`, removes the config after each restore so that the next one finds none.
int restoreChild(bool missing)
{
    const ClientCatalogue::FileLayout layout = ClientCatalogue::find(QStringLiteral("zed"))->file;
    for (int i = 0;; ++i) {
        Backups backups;
        const QList<Backups::Backup> listed = backups.list(QStringLiteral("zed"), layout);
        if (listed.isEmpty() || !backups.restore(QStringLiteral("zed"), listed.first().path, zedConfig()))
            return 1;
        if (missing && !QFile::remove(zedConfig()))
            return 1;
        signalRound(i);
    }
}

int addonChild(const QString &work)
{
    Addon addon;
    for (int i = 0;; ++i) {
        if (!addon.installFrom(work + (i % 2 ? QLatin1String("/v2") : QLatin1String("/v1")), work + "/project"))
            return 1;
        signalRound(i);
    }
}

// --- The parent. ---

struct Counts
{
    int trials = 0;
    int interrupted = 0; // leftovers of ours at the moment of the kill: the kill hit an operation
    int unparsable = 0;
    int lost = 0;
    int mixed = 0;
    int leftoversAfter = 0; // leftovers still there once the next operation ran
    int badBackups = 0;     // a backup name held something other than a whole copy
    int badMode = 0;        // the config's mode did not go with its content
    int badAfter = 0;       // the config was not whole, with its mode, once the next operation ran
};

// 41 files: plugin.cfg and 40 scripts over three folders, every file naming its version.
QMap<QString, QByteArray> addonFiles(const QByteArray &version)
{
    QMap<QString, QByteArray> files;
    files.insert(QStringLiteral("plugin.cfg"), "[plugin]\nname=\"Bench\"\nversion=\"" + version + "\"\n");
    for (int i = 0; i < 40; ++i) {
        const QString name = QStringLiteral("folder%1/script%2.gd").arg(i % 3).arg(i);
        files.insert(name, (version + ' ' + name.toUtf8() + '\n').repeated(i % 8 == 0 ? 2000 : 40));
    }
    return files;
}

const QMap<QString, QByteArray> s_userFiles{{QStringLiteral(".user_settings"), "mine"},
                                            {QStringLiteral("folder0/script3.gd.uid"), "uid://x"}};

// The version of the complete copy in dir (user files kept), or empty when it is mixed.
QString completeCopy(const QString &dir, const QMap<QByteArray, QMap<QString, QByteArray>> &copies)
{
    const QByteArray version = Addon::readVersionFromCfg(dir).toUtf8();
    if (!copies.contains(version))
        return {};
    const QMap<QString, QByteArray> &files = copies[version];
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (TestEnv::readFile(dir + QLatin1Char('/') + it.key()) != it.value())
            return {};
    }
    for (auto it = s_userFiles.cbegin(); it != s_userFiles.cend(); ++it) {
        if (TestEnv::readFile(dir + QLatin1Char('/') + it.key()) != it.value())
            return {};
    }
    return QString::fromUtf8(version);
}

// Starts the child, waits until it has done one round, kills it at a random moment of the next
// rounds; false when the child did not run.
bool killDuringRounds(const QString &scenario, const QString &work)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), scenario, work});
    if (!child.waitForStarted(10000) || !child.waitForReadyRead(20000))
        return false;
    QThread::usleep(QRandomGenerator::global()->bounded(15000));
    ::kill(pid_t(child.processId()), SIGKILL);
    return child.waitForFinished(10000);
}

Counts settingsTrials(int trials)
{
    Counts counts;
    const QString path = Settings::filePath(), folder = QFileInfo(path).absolutePath();
    QJsonArray recent;
    for (int i = 0; i < s_recent; ++i)
        recent.append(QJsonObject{{"path", QStringLiteral("/p/%1").arg(i)}, {"name", "P"}});
    TestEnv::writeFile(path, QJsonDocument(QJsonObject{{"user_key", "keep me"}, {"recent_projects", recent}}).toJson());
    for (int trial = 0; trial < trials; ++trial) {
        if (!killDuringRounds(QStringLiteral("settings"), QString()))
            return counts;
        ++counts.trials;
        counts.interrupted += !entriesBeside(folder, {QStringLiteral("settings.json")}).isEmpty();
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(TestEnv::readFile(path), &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            ++counts.unparsable;
        } else {
            QStringList paths;
            for (const QJsonValue entry : doc[QLatin1String("recent_projects")].toArray())
                paths << entry[QLatin1String("path")].toString();
            paths.sort();
            QStringList expected;
            for (int i = 0; i < s_recent; ++i)
                expected << QStringLiteral("/p/%1").arg(i);
            counts.lost += doc[QLatin1String("user_key")] != QJsonValue("keep me") || paths != expected;
        }
        Settings().setPermissionMode(s_modes.at(trial % 2)); // the next operation
        counts.leftoversAfter += !entriesBeside(folder, {QStringLiteral("settings.json")}).isEmpty();
    }
    return counts;
}

// Whether the Cursor config's bytes are one the writes make: the user's members and ours.
bool wholeCursorConfig(const QByteArray &bytes, bool withEntry)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject servers = doc[QLatin1String("mcpServers")].toObject();
    return doc[QLatin1String("theme")] == QJsonValue("dark") && servers.contains("other") &&
           (!withEntry || servers.contains("tavrin"));
}

// Backups (names that parse as one) that do not hold one of the given whole files; the rest of
// the folder's names go to *others.
QSet<QString> badBackups(const QString &clientId, const std::function<bool(const QByteArray &)> &whole,
                         QStringList *others)
{
    QSet<QString> bad;
    const QString folder = Backups::clientFolder(clientId);
    for (const QString &name : QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (!Backups::parseBackupFileName(name, nullptr))
            others->append(name);
        else if (!whole(TestEnv::readFile(folder + QLatin1Char('/') + name)))
            bad.insert(name);
    }
    return bad;
}

// Counts a trial whose kill left a bad backup that was not there before.
void countNewBad(const QSet<QString> &bad, QSet<QString> *seen, int *count)
{
    *count += !(bad - *seen).isEmpty();
    *seen += bad;
}

Counts configTrials(int trials)
{
    Counts counts;
    const QString path = cursorConfig(), folder = QFileInfo(path).absolutePath();
    TestEnv::writeFile(path, R"({"theme": "dark", "mcpServers": {"other": {"command": "x", "args": ["--key", "s"]}}})");
    QFile::setPermissions(path, s_modeB);
    const auto whole = [](const QByteArray &bytes) { return wholeCursorConfig(bytes, false); };
    QSet<QString> seen;
    for (int trial = 0; trial < trials; ++trial) {
        if (!killDuringRounds(QStringLiteral("config"), QString()))
            return counts;
        ++counts.trials;
        QStringList ours = entriesBeside(folder, {QStringLiteral("mcp.json")});
        countNewBad(badBackups(QStringLiteral("cursor"), whole, &ours), &seen, &counts.badBackups);
        counts.interrupted += !ours.isEmpty();
        const QByteArray bytes = TestEnv::readFile(path);
        if (QJsonDocument::fromJson(bytes).isObject())
            counts.lost += !wholeCursorConfig(bytes, true);
        else
            ++counts.unparsable;
        counts.badMode += modeOf(path) != s_modeB;
        (void)Clients().writeConfig(QStringLiteral("cursor"), s_modes.at(trial % 2)); // the next operation
        counts.badAfter += !wholeCursorConfig(TestEnv::readFile(path), true) || modeOf(path) != s_modeB;
        QStringList left = entriesBeside(folder, {QStringLiteral("mcp.json")});
        (void)badBackups(QStringLiteral("cursor"), whole, &left);
        counts.leftoversAfter += !left.isEmpty();
    }
    return counts;
}

// The config holds version A with A's mode, version B with B's mode, or (with `missing`) nothing.
bool zedConsistent(bool missing)
{
    if (!QFileInfo::exists(zedConfig()))
        return missing;
    const QByteArray bytes = TestEnv::readFile(zedConfig());
    return (bytes == s_versionA && modeOf(zedConfig()) == s_modeA) ||
           (bytes == s_versionB && modeOf(zedConfig()) == s_modeB);
}

// Each trial starts from one backup holding version B with B's mode, and version A with A's mode
// in place (with `missing`, no config): each restore swaps them.
bool resetZed(bool missing)
{
    const QString path = zedConfig();
    QDir(Backups::clientFolder(QStringLiteral("zed"))).removeRecursively();
    QDir(QFileInfo(path).absolutePath()).removeRecursively();
    if (!TestEnv::writeFile(path, s_versionB) || !QFile::setPermissions(path, s_modeB) ||
        !Backups().backup(QStringLiteral("zed"), path))
        return false;
    if (missing)
        return QFile::remove(path);
    return TestEnv::writeFile(path, s_versionA) && QFile::setPermissions(path, s_modeA);
}

Counts restoreTrials(int trials, bool missing)
{
    Counts counts;
    const QString path = zedConfig(), folder = QFileInfo(path).absolutePath();
    const auto whole = [](const QByteArray &bytes) { return bytes == s_versionA || bytes == s_versionB; };
    const QString scenario = missing ? QStringLiteral("restore-missing") : QStringLiteral("restore");
    QSet<QString> seen;
    for (int trial = 0; trial < trials; ++trial) {
        if (!resetZed(missing) || !killDuringRounds(scenario, QString()))
            return counts;
        ++counts.trials;
        QStringList ours = entriesBeside(folder, {QStringLiteral("settings.json")});
        countNewBad(badBackups(QStringLiteral("zed"), whole, &ours), &seen, &counts.badBackups);
        counts.interrupted += !ours.isEmpty();
        const QByteArray bytes = TestEnv::readFile(path);
        counts.unparsable += QFileInfo::exists(path) && !whole(bytes);
        counts.badMode += whole(bytes) && !zedConsistent(missing);
        // The next operation: what the child did, once, on whatever the kill left.
        Backups backups;
        const QList<Backups::Backup> listed =
            backups.list(QStringLiteral("zed"), ClientCatalogue::find(QStringLiteral("zed"))->file);
        if (!listed.isEmpty())
            (void)backups.restore(QStringLiteral("zed"), listed.first().path, path);
        QStringList left = entriesBeside(folder, {QStringLiteral("settings.json")});
        (void)badBackups(QStringLiteral("zed"), whole, &left);
        counts.leftoversAfter += !left.isEmpty();
        counts.badAfter += !zedConsistent(false); // what the next restore made of it
    }
    return counts;
}

Counts addonTrials(int trials, const QString &work)
{
    Counts counts;
    QMap<QByteArray, QMap<QString, QByteArray>> copies;
    for (const char *version : {"1.0.0", "2.0.0"}) {
        copies.insert(version, addonFiles(version));
        const QString dir = work + (version[0] == '1' ? QLatin1String("/v1") : QLatin1String("/v2"));
        for (auto it = copies[version].cbegin(); it != copies[version].cend(); ++it)
            TestEnv::writeFile(dir + QLatin1Char('/') + it.key(), it.value());
    }
    const QString project = work + QLatin1String("/project"), addons = project + QLatin1String("/addons");
    const QString target = addons + QLatin1String("/tavrin_mcp");
    TestEnv::writeFile(project + QLatin1String("/project.godot"), "config_version=5\n");
    if (!Addon().installFrom(work + QLatin1String("/v1"), project))
        return counts;
    for (auto it = s_userFiles.cbegin(); it != s_userFiles.cend(); ++it)
        TestEnv::writeFile(target + QLatin1Char('/') + it.key(), it.value());
    for (int trial = 0; trial < trials; ++trial) {
        if (!killDuringRounds(QStringLiteral("addon"), work))
            return counts;
        ++counts.trials;
        counts.interrupted += !entriesBeside(addons, {QStringLiteral("tavrin_mcp")}).isEmpty();
        bool mixed = completeCopy(target, copies).isEmpty();
        Addon addon; // the next operation: what a scan does before the page reads the addon
        addon.finishInterrupted(project);
        const AddonStatus status = addon.status(project);
        const QString after = completeCopy(target, copies);
        mixed = mixed || after.isEmpty() || status.installedVersion != after;
        counts.mixed += mixed;
        counts.lost += !QFileInfo::exists(target + QLatin1String("/folder0/script3.gd.uid"));
        counts.leftoversAfter += !entriesBeside(addons, {QStringLiteral("tavrin_mcp")}).isEmpty();
    }
    return counts;
}

void print(const char *name, const Counts &c, bool tree)
{
    std::printf("%-28s %6d %12d %10d %6d %6s %14d\n", name, c.trials, c.interrupted, c.unparsable, c.lost,
                tree ? qPrintable(QString::number(c.mixed)) : "-", c.leftoversAfter);
}

void printBackups(const char *name, const Counts &c)
{
    std::printf("%-36s %6d %12d %11d %10d %6d %8d %14d\n", name, c.trials, c.interrupted, c.badBackups, c.unparsable,
                c.badMode, c.badAfter, c.leftoversAfter);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--child") == 0) {
        QCoreApplication app(argc, argv);
        const QByteArray scenario = argv[2];
        if (scenario == "settings")
            return settingsChild();
        if (scenario == "config")
            return configChild();
        if (scenario.startsWith("restore"))
            return restoreChild(scenario == "restore-missing");
        return addonChild(QString::fromLocal8Bit(argv[3]));
    }
    TestEnv::isolate(false); // children inherit the isolated home
    QCoreApplication app(argc, argv);
    const int trials = argc > 1 ? std::max(1, atoi(argv[1])) : 200;

    std::printf("%d SIGKILL trials per scenario, killed 0-15 ms into a run of back-to-back operations\n\n", trials);
    std::printf("%-28s %6s %12s %10s %6s %6s %14s\n", "scenario", "trials", "interrupted", "unparsable", "lost",
                "mixed", "leftover after");
    print("settings save", settingsTrials(trials), false);
    const Counts edit = configTrials(trials);
    print("client config write (Cursor)", edit, false);
    print("addon update (41 files)", addonTrials(trials, TestEnv::root().path() + QLatin1String("/addon")), true);
    std::printf("\ninterrupted: our temporary files or folders were present at the kill (the kill hit a write);\n"
                "leftover after: still present once the next operation ran. Target: zero unparsable, lost, mixed and\n"
                "leftover after.\n\n");

    std::printf("%-36s %6s %12s %11s %10s %6s %8s %14s\n", "backup scenario", "trials", "interrupted", "bad backup",
                "bad config", "mode", "bad next", "leftover after");
    printBackups("backup + edit (Cursor, 0600)", edit);
    printBackups("restore over the config (Zed)", restoreTrials(trials, false));
    printBackups("restore onto a missing config (Zed)", restoreTrials(trials, true));
    std::printf("\nbad backup: the kill left a name in the backups folder that holds something else than a whole\n"
                "copy (an empty file, say); bad config: the config held something else than a whole version; mode: the "
                "config's mode\n"
                "did not go with its content; bad next: the config was not a whole version with its mode after the\n"
                "next operation (a restore of the newest backup). Target: zero in all but interrupted.\n");
    return 0;
}
