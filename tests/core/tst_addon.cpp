#include "core/addon.h"
#include "killtrial.h"
#include "testenv.h"
#include "version.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using TestEnv::row;

namespace {

// The child of the kill trials: updates the project from two copies in turn until it is killed.
int updateLoop(const QString &project, const QString &first, const QString &second)
{
    Addon addon;
    for (int i = 0;; ++i) {
        if (!addon.installFrom(i % 2 ? second : first, project)) {
            std::fprintf(stderr, "%s\n", qPrintable(addon.lastError()));
            return 1;
        }
        std::printf("%d\n", i);
        std::fflush(stdout);
    }
}

} // namespace

class TestAddon : public QObject
{
    Q_OBJECT
    QTemporaryDir m_work;

    static QString bundledRoot() { return QCoreApplication::applicationDirPath() + "/bundled_addon"; }
    static QByteArray cfg(const QByteArray &version) { return "[plugin]\nname=\"x\"\nversion=\"" + version + "\"\n"; }
    static bool put(const QString &path, const QByteArray &content = "x") { return TestEnv::writeFile(path, content); }
    static QStringList tree(const QString &dir) { return TestEnv::snapshot(dir).keys(); }

    static QStringList entries(const QString &dir)
    {
        return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    }

    // Two shipped copies for the kill trials (relative path -> content); every file names its version.
    QMap<QString, QMap<QString, QByteArray>> m_copies;
    const QMap<QString, QByteArray> m_userFiles{
        {".user_settings", "mine"}, {"sub0/file3.gd.uid", "uid://x"}, {"mine/notes.txt", "notes"}};

    void makeCopies()
    {
        for (const QString version : {"1.0.0", "2.0.0"}) {
            QMap<QString, QByteArray> &files = m_copies[version];
            files.insert("plugin.cfg", cfg(version.toUtf8()));
            for (int i = 0; i < 40; ++i)
                files.insert(QStringLiteral("sub%1/file%2.gd").arg(i % 3).arg(i),
                             version.toUtf8().repeated(i % 10 ? 20 : 30000));
            for (auto it = files.cbegin(); it != files.cend(); ++it)
                QVERIFY(put(m_work.path() + "/copies/" + version + '/' + it.key(), it.value()));
        }
    }

    // The version whose complete copy the folder holds, with the user's files; else what is wrong.
    QString completeCopy(const QString &dir) const
    {
        const QString version = Addon::readVersionFromCfg(dir);
        QStringList wrong;
        for (const auto &files : {m_copies.value(version), m_userFiles}) {
            for (auto it = files.cbegin(); it != files.cend(); ++it) {
                if (TestEnv::readFile(dir + '/' + it.key()) != it.value())
                    wrong << it.key();
            }
        }
        return m_copies.contains(version) && wrong.isEmpty() ? version : version + " mixed: " + wrong.join(' ');
    }

private slots:
    void init() { QDir(bundledRoot()).removeRecursively(); }

    // Status reads both versions (the shipped copy lies directly in bundled_addon or in its
    // tavrin_mcp folder). Only an older installed copy is offered the shipped one, a newer one is
    // left alone; versions that are not plain version numbers are only compared for equality. An
    // install keeps the user's files and leaves the shipped copy's hidden ones behind.
    void install_data()
    {
        QTest::addColumn<QString>("src");       // null: nothing shipped
        QTest::addColumn<QByteArray>("before"); // null: no addon folder, empty: no plugin.cfg
        QTest::addColumn<QByteArray>("shipped");
        QTest::addColumn<QString>("offer"); // "update", "newer" or "-"
        using B = QByteArray;
        const QString root = bundledRoot(), sub = bundledRoot() + "/tavrin_mcp";
        row("no addon", root, B(), B("1.0.1"), "-");
        row("same", root, B("1.0.1"), B("1.0.1"), "-");
        row("older, by number not text, in tavrin_mcp", sub, B("1.2.0"), B("1.10.0"), "update");
        row("newer, by number not text", root, B("1.10.0"), B("1.2.0"), "newer");
        row("same, v prefix and short form", root, B("v1.0"), B("1.0.0"), "-");
        row("suffix differs", root, B("1.0.1-beta"), B("1.0.1"), "update");
        row("same text, no number", sub, B("dev"), B("dev"), "-");
        row("no plugin.cfg", root, B(""), B("1"), "-");
        row("nothing shipped", QString(), B("1.0.1"), B(), "-");
    }
    void install()
    {
        QFETCH(QString, src);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, shipped);
        if (!src.isNull()) // hidden entries of the shipped copy stay behind
            QVERIFY(
                put(src + "/plugin.cfg", cfg(shipped)) && put(src + "/ui/a.svg") && put(src + "/ui/.cache") &&
                put(src + "/.git/HEAD") &&
                QFile::setPermissions(src + "/plugin.cfg", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        const QString project = m_work.path() + '/' + QTest::currentDataTag(), target = project + "/addons/tavrin_mcp";
        QVERIFY(put(project + "/project.godot"));
        QStringList files{"plugin.cfg", "ui", "ui/a.svg"};
        if (!before.isNull())
            files += QStringList{".hidden", "mine", "mine/notes.txt", "ui/a.svg.import", "user_only.gd"};
        for (const char *extra : {"/user_only.gd", "/.hidden", "/ui/a.svg.import", "/mine/notes.txt"})
            QVERIFY(before.isNull() || put(target + extra, "kept"));
        QVERIFY(before.isEmpty() || put(target + "/plugin.cfg", cfg(before) + "; a longer old file"));
        Addon addon;
        const AddonStatus s = addon.status(project);
        QCOMPARE((QVariantList{s.installed, s.installedVersion, s.bundledVersion}),
                 (QVariantList{!before.isNull(), QString(before), QString(shipped)}));
        QTEST(QString(s.updateAvailable ? "update" : s.newerInstalled ? "newer" : "-"), "offer");
        const QMap<QString, QByteArray> was = TestEnv::snapshot(project);
        QCOMPARE(addon.install(project), !src.isNull());
        if (src.isNull()) {
            QCOMPARE(addon.lastError(), "Bundled addon directory not found: " + bundledRoot() + "/tavrin_mcp");
            QCOMPARE(TestEnv::snapshot(project), was);
            return;
        }
        QCOMPARE(addon.lastError(), QString());
        files.sort();
        QCOMPARE(tree(target), files);
        QVERIFY(before.isNull() || TestEnv::readFile(target + "/mine/notes.txt") == "kept");
        QCOMPARE(entries(project + "/addons"), QStringList{"tavrin_mcp"}); // nothing of ours beside it
        QCOMPARE(TestEnv::readFile(target + "/plugin.cfg"), cfg(shipped));
        QCOMPARE(QFileInfo(target + "/plugin.cfg").permissions(), QFileInfo(src + "/plugin.cfg").permissions());
    }

    // Whatever a killed install or uninstall left, status only reads it, and finishing leaves one
    // complete copy (or none) and nothing of ours beside it.
    void interruptedOperationsAreFinished_data()
    {
        QTest::addColumn<QStringList>("left"); // folder under addons=version copy ("part": a partial one)
        QTest::addColumn<QString>("expected"); // the version installed afterwards; empty: none
        using L = QStringList;
        row("copy cut short", L{"tavrin_mcp=1.0.0", ".tavrin_mcp.staging=part"}, "1.0.0");
        row("between the renames", L{".tavrin_mcp.old=1.0.0", ".tavrin_mcp.staging=2.0.0"}, "1.0.0");
        row("old copy not yet deleted", L{"tavrin_mcp=2.0.0", ".tavrin_mcp.old=part", ".tavrin_mcp.staging=part"},
            "2.0.0");
        row("uninstall cut short", L{".tavrin_mcp.removing=part"}, "");
    }
    void interruptedOperationsAreFinished()
    {
        QFETCH(QStringList, left);
        QFETCH(QString, expected);
        makeCopies();
        const QString project = m_work.path() + "/left/" + QTest::currentDataTag();
        for (const QString &folder : left) {
            const QString version = folder.section('=', 1), dir = project + "/addons/" + folder.section('=', 0, 0);
            QVERIFY(Addon().copyDir(m_work.path() + "/copies/" + (version == "part" ? "2.0.0" : version), dir));
            for (auto it = m_userFiles.cbegin(); it != m_userFiles.cend(); ++it)
                QVERIFY(put(dir + '/' + it.key(), it.value()));
            QVERIFY(version != "part" || QFile::remove(dir + "/sub1/file1.gd"));
        }
        const QStringList before = entries(project + "/addons");
        Addon addon;
        (void)addon.status(project);
        QCOMPARE(entries(project + "/addons"), before);
        QVERIFY(addon.finishInterrupted(project));
        QVERIFY(!addon.finishInterrupted(project));
        const AddonStatus status = addon.status(project);
        QCOMPARE(entries(project + "/addons"), expected.isEmpty() ? QStringList() : QStringList{"tavrin_mcp"});
        QCOMPARE(status.installedVersion, expected);
        if (!expected.isEmpty())
            QCOMPARE(completeCopy(project + "/addons/tavrin_mcp"), expected);
    }

    // A process updating over and over is killed at random moments: the addon folder is always one
    // complete copy with the user's files, and once the interruption is finished status matches it
    // and nothing of ours is left beside it.
    void killedUpdatesLeaveOneCompleteCopy()
    {
        makeCopies();
        const QString project = m_work.path() + "/trials", addons = project + "/addons";
        const QString first = m_work.path() + "/copies/1.0.0", second = m_work.path() + "/copies/2.0.0";
        QVERIFY(put(project + "/project.godot") && put(addons + "/other_plugin/x.gd"));
        QVERIFY(Addon().installFrom(first, project));
        for (auto it = m_userFiles.cbegin(); it != m_userFiles.cend(); ++it)
            QVERIFY(put(addons + "/tavrin_mcp/" + it.key(), it.value()));
        int interrupted = 0;
        const int trials = TestEnv::underWine() ? 20 : 60; // a process start takes a second under Wine
        for (int trial = 0; trial < trials; ++trial) {
            const QString killed = KillTrial::run({"--update-loop", project, first, second});
            QVERIFY2(killed.isEmpty(), qPrintable(killed));
            const QStringList left = entries(addons);
            interrupted += left.size() > 2;
            const QString atKill = completeCopy(addons + "/tavrin_mcp");
            QVERIFY2(!atKill.contains(' ') || (!left.contains("tavrin_mcp") && left.contains(".tavrin_mcp.old")),
                     qPrintable(QStringLiteral("trial %1: %2 (%3)").arg(trial).arg(atKill, left.join(' '))));
            Addon addon;
            addon.finishInterrupted(project);
            const AddonStatus status = addon.status(project);
            const QString now = completeCopy(addons + "/tavrin_mcp");
            QVERIFY2(!now.contains(' '), qPrintable(QStringLiteral("trial %1: %2").arg(trial).arg(now)));
            QCOMPARE(status.installedVersion, now);
            QCOMPARE(entries(addons), QStringList({"other_plugin", "tavrin_mcp"}));
        }
        // Most kills land inside an update, not between two.
        QVERIFY2(interrupted > trials / 3, qPrintable(QString::number(interrupted)));
    }

    void readVersionFromCfg_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no plugin.cfg at all
        QTest::addColumn<QString>("expected");
        row("quoted, after a longer key", QByteArray("versions=\"9\"\nversion=\"1.4.2\"\n"), "1.4.2");
        row("blanks around, CRLF", QByteArray("[plugin]\r\n \tversion = \"1.4.2\"  \r\n"), "1.4.2");
        row("unquoted, = inside", QByteArray("version=1.4.2=b\n"), "1.4.2=b");
        row("no file", QByteArray(), QString());
        row("shipped addon matches the application",
            TestEnv::readFile(qEnvironmentVariable("TAVRIN_ADDON_SOURCE") + "/plugin.cfg"), QString(Tavrin::Version));
    }
    void readVersionFromCfg()
    {
        QFETCH(QByteArray, content);
        const QString dir = m_work.path() + "/cfg/" + QTest::currentDataTag();
        QVERIFY(content.isNull() || put(dir + "/plugin.cfg", content));
        QTEST(Addon::readVersionFromCfg(dir), "expected");
    }

    // Refused while no project; a copy that cannot be written; removed as folder, as link, then nothing.
    void lifecycle()
    {
        QVERIFY(put(bundledRoot() + "/tavrin_mcp/big.res", QByteArray(256 * 1024, 'n')));
        const QString project = m_work.path() + "/life", target = project + "/addons/tavrin_mcp";
        QVERIFY(put(target + "/big.res", "old") && put(project + "/addons/other"));
        Addon addon;
        const QString refused = "Godot project not found: " + project;
        QCOMPARE(QVariantList({addon.install(project), addon.lastError(), addon.uninstall(project), addon.lastError()}),
                 QVariantList({false, refused, false, refused}));
        QCOMPARE(tree(project + "/addons"), QStringList({"other", "tavrin_mcp", "tavrin_mcp/big.res"}));
        QVERIFY(put(project + "/project.godot"));
#ifdef Q_OS_UNIX
        // A file size limit makes writing the new copy fail, even for root.
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit limited{64 * 1024, saved.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);
        const bool failed = setrlimit(RLIMIT_FSIZE, &limited) == 0 && !addon.install(project);
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(failed);
        QVERIFY(addon.lastError().startsWith("Cannot copy addon file to " + target + "/big.res: "));
#endif
        QCOMPARE(tree(target), QStringList{"big.res"}); // no temporary copy left behind
        QCOMPARE(TestEnv::readFile(target + "/big.res"), QByteArray("old"));

        QCOMPARE(QVariantList({addon.uninstall(project), addon.lastError()}), QVariantList({true, QString()}));
        if (!TestEnv::unixFiles) { // a linked checkout needs symbolic links
            QCOMPARE(tree(project + "/addons"), QStringList{"other"});
            return;
        }
        QVERIFY(put(m_work.path() + "/checkout/work.gd") && QFile::link(m_work.path() + "/checkout", target));
        QVERIFY(addon.uninstall(project) && addon.uninstall(project));
        QCOMPARE(addon.lastError(), QString());
        QCOMPARE(tree(project + "/addons"), QStringList{"other"});
        QCOMPARE(tree(m_work.path() + "/checkout"), QStringList{"work.gd"});
    }
};

int main(int argc, char *argv[])
{
    if (argc == 5 && qstrcmp(argv[1], "--update-loop") == 0)
        return updateLoop(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                          QString::fromLocal8Bit(argv[4]));
    TestEnv::isolate(false);
    QCoreApplication app(argc, argv);
    TestAddon tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_addon.moc"
