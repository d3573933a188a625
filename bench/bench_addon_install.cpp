// Times Addon::install of a generated 2,000-file addon against `cp -r` of the same tree.
// Usage: bench_addon_install [runs]   (default 9; the median of each is printed)

#include "core/addon.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <vector>

namespace {

constexpr int s_fileCount = 2000;

// plugin.cfg plus 1,999 files of 1-8 KB spread over the top folder, 5 folders and 20 sub-folders.
qint64 generateAddon(const QString &root)
{
    QStringList folders{QString()};
    for (const char *top : {"scripts", "scenes", "icons", "docs", "tools"}) {
        folders << QLatin1String(top);
        for (const char *sub : {"/a", "/b", "/c", "/d"})
            folders << QLatin1String(top) + QLatin1String(sub);
    }
    for (const QString &folder : folders)
        QDir().mkpath(root + QLatin1Char('/') + folder);

    QFile cfg(root + QLatin1String("/plugin.cfg"));
    cfg.open(QIODevice::WriteOnly);
    cfg.write("[plugin]\nname=\"Bench\"\nversion=\"1.0.0\"\nscript=\"plugin.gd\"\n");
    qint64 total = cfg.size();
    cfg.close();

    QRandomGenerator random(42);
    for (int i = 1; i < s_fileCount; ++i) {
        const QString &folder = folders.at(i % folders.size());
        QFile file(root + QLatin1Char('/') + folder + QStringLiteral("/file_%1.gd").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return -1;
        QByteArray content(1024 + int(random.bounded(7 * 1024)), 'x');
        for (char &c : content)
            c = char('a' + random.bounded(26));
        file.write(content);
        total += content.size();
    }
    return total;
}

QString makeProject(const QString &path)
{
    QDir().mkpath(path);
    QFile marker(path + QLatin1String("/project.godot"));
    marker.open(QIODevice::WriteOnly);
    marker.write("config_version=5\n");
    return path;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double timeAddon(const QString &project)
{
    Addon addon;
    QElapsedTimer timer;
    timer.start();
    const bool ok = addon.install(project);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (!ok)
        qFatal("install failed: %s", qPrintable(addon.lastError()));
    return ms;
}

double timeCp(const QString &source, const QString &project)
{
    QDir().mkpath(project + QLatin1String("/addons"));
    QProcess cp;
    QElapsedTimer timer;
    timer.start();
    cp.start(QStringLiteral("cp"), {QStringLiteral("-r"), source, project + QLatin1String("/addons/tavrin_mcp")});
    cp.waitForFinished(-1);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (cp.exitStatus() != QProcess::NormalExit || cp.exitCode() != 0)
        qFatal("cp -r failed: %s", cp.readAllStandardError().constData());
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 9;
    QTextStream out(stdout);

    // The shipped folder must sit beside the executable, in the "files directly inside" layout.
    const QString source = QCoreApplication::applicationDirPath() + QLatin1String("/bundled_addon");
    QDir(source).removeRecursively();
    const qint64 bytes = generateAddon(source);
    if (bytes < 0 || Addon::bundledAddonDir() != source)
        qFatal("cannot lay out %s", qPrintable(source));
    QTemporaryDir work(QCoreApplication::applicationDirPath() + QLatin1String("/work-XXXXXX"));

    std::vector<double> addonFresh, cpFresh, addonUpdate;
    // One untimed round of each warms the page cache for both.
    timeAddon(makeProject(work.path() + QLatin1String("/warm-addon")));
    timeCp(source, makeProject(work.path() + QLatin1String("/warm-cp")));
    for (int i = 0; i < runs; ++i) {
        const QString a = makeProject(work.path() + QStringLiteral("/addon-%1").arg(i));
        const QString c = makeProject(work.path() + QStringLiteral("/cp-%1").arg(i));
        // Alternate the order so neither side always runs right after the other's writes.
        if (i % 2) {
            addonFresh.push_back(timeAddon(a));
            cpFresh.push_back(timeCp(source, c));
        } else {
            cpFresh.push_back(timeCp(source, c));
            addonFresh.push_back(timeAddon(a));
        }
        addonUpdate.push_back(timeAddon(a)); // over the copy just made: every file is replaced
        QDir(a).removeRecursively();
        QDir(c).removeRecursively();
    }

    const double addonMs = median(addonFresh);
    const double cpMs = median(cpFresh);
    out << "addon tree: " << s_fileCount << " files, 26 folders, " << bytes / 1024 << " KiB\n"
        << "runs: " << runs << " of each (median)\n"
        << QStringLiteral("Addon::install, fresh target:    %1 ms\n").arg(addonMs, 0, 'f', 1)
        << QStringLiteral("cp -r, fresh target:             %1 ms\n").arg(cpMs, 0, 'f', 1)
        << QStringLiteral("ratio install / cp -r:           %1x\n").arg(addonMs / cpMs, 0, 'f', 2)
        << QStringLiteral("Addon::install over a copy:      %1 ms\n").arg(median(addonUpdate), 0, 'f', 1);
    QDir(source).removeRecursively();
    return 0;
}
