// Figures for the Setup page: building its content on first show, updating it in place as a scan
// is accepted (a record per client and the prerequisites), a refresh within a minute of the last
// scan, and the background status scan with fake tools and, when installed, the real claude and
// codex command-line tools. Optional first argument: a PNG path for a screenshot of the page.
#include "testenv.h"

#include "core/addon.h"
#include "core/settings.h"
#include "core/setupmodel.h"
#include "fakes/fakecli.h"
#include "gui/setup/setupview.h"
#include "gui/widgets/theme.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

struct Stats
{
    double min = 0, median = 0, max = 0;
};

Stats stats(QList<double> samples)
{
    if (samples.isEmpty())
        return {};
    std::sort(samples.begin(), samples.end());
    return {samples.first(), samples.at(samples.size() / 2), samples.last()};
}

// CPU time of the calling thread: the machine the figures come from is shared, and wall time
// includes the time slices other processes take.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void print(const char *label, int runs, const Stats &s, const char *unit = "ms")
{
    std::printf("  %-58s %3d runs: min %7.2f %s, median %7.2f %s, max %7.2f %s\n", label, runs, s.min, unit, s.median,
                unit, s.max, unit);
}

// Waits for the model's scan to be accepted (or 120 s).
bool waitForScan(SetupModel &model)
{
    QElapsedTimer clock;
    clock.start();
    while (!model.hasScan() || model.isScanning()) {
        if (clock.elapsed() > 120000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

// Time from the first refresh (which starts the scan) to the scan's result being shown.
Stats measureScans(Settings *settings, int runs)
{
    QList<double> samples;
    for (int i = 0; i < runs; ++i) {
        SetupModel model(settings);
        SetupView view(&model);
        QElapsedTimer clock;
        clock.start();
        view.refresh();
        if (!waitForScan(model)) {
            std::printf("  scan did not finish within 120 s\n");
            return {};
        }
        samples << clock.nsecsElapsed() / 1e6;
        SetupModel::workers()->waitForDone();
    }
    return stats(samples);
}

} // namespace

int main(int argc, char *argv[])
{
    TestEnv::isolate(true);
    QApplication app(argc, argv);
    app.setStyleSheet(Theme::styleSheet());

    // Every client of the first six present and registered, so that all six cards carry buttons.
    const QString state = TestEnv::root().path() + QLatin1String("/state");
    if (!FakeCli::write(state))
        return 1;
    TestEnv::writeFile(state + QLatin1String("/codex-on"), "safe_edit");
    TestEnv::writeFile(state + QLatin1String("/claude-on"), "safe_edit");
    TestEnv::writeTool(QStringLiteral("python"), "echo 'Python 3.12.1'");
    TestEnv::writeTool(QStringLiteral("uv"), "echo 'uv 0.5.1'");
    TestEnv::writeTool(QStringLiteral("uvx"), "echo 'uvx 0.5.1'");
    const QString project = TestEnv::root().path() + QLatin1String("/project");
    TestEnv::writeFile(project + QLatin1String("/project.godot"), "config_version=5\n");
    for (const char *id : {"claude-desktop", "cursor", "windsurf", "cline"})
        QDir().mkpath(QFileInfo(ClientCatalogue::configPath(QLatin1String(id))).absolutePath());

    // The shipped addon beside the benchmark and installed in the project, so that the addon card
    // reads both plugin.cfg files as it does in the application.
    const QString bundled = QCoreApplication::applicationDirPath() + QLatin1String("/bundled_addon");
    const QString source = qEnvironmentVariable("TAVRIN_ADDON_SOURCE");
    if (!source.isEmpty()) {
        QDir(bundled).removeRecursively();
        QDir().mkpath(bundled);
        QFile::copy(source + QLatin1String("/plugin.cfg"), bundled + QLatin1String("/plugin.cfg"));
    }

    Settings settings;
    settings.setActiveProject(project);
    Addon addon;
    if (!source.isEmpty() && !addon.install(project))
        std::printf("  addon install failed: %s\n", qPrintable(addon.lastError()));

    std::printf("Setup page (Qt %s)\n", QT_VERSION_STR);

    SetupModel model(&settings);
    model.refresh();
    if (!waitForScan(model))
        return 1;

    // The content, built when the page is first shown: a fresh page each time, the scan known.
    {
        const int runs = 30;
        QList<double> build, buildCpu;
        for (int i = 0; i < runs; ++i) {
            SetupView view(&model);
            view.resize(1000, 760);
            QElapsedTimer clock;
            clock.start();
            const double cpu = threadCpuMs();
            view.show(); // builds the content and shows it
            QCoreApplication::processEvents();
            buildCpu << threadCpuMs() - cpu;
            build << clock.nsecsElapsed() / 1e6;
        }
        print("first show: build, polish and lay out the content", runs, stats(build));
        print("same, GUI-thread CPU time", runs, stats(buildCpu));
    }

    SetupView view(&model);
    view.resize(1000, 760);
    view.show();
    QCoreApplication::processEvents();
    const int runs = 200;
    QList<double> update, updateCpu, settled, refresh;
    for (int i = 0; i < runs; ++i) {
        // What a scan's acceptance does on the GUI thread: every card and row updated in place.
        QElapsedTimer clock;
        clock.start();
        const double cpu = threadCpuMs();
        for (const ClientCatalogue::Client &client : ClientCatalogue::all())
            emit model.clientChanged(client.id);
        emit model.prerequisitesChanged();
        updateCpu << threadCpuMs() - cpu;
        update << clock.nsecsElapsed() / 1e6;
        QCoreApplication::processEvents(); // layout and painting of what changed
        settled << clock.nsecsElapsed() / 1e6;
        // The page shown again within a minute of the scan: the addon read again, no scan.
        clock.restart();
        view.refresh();
        refresh << clock.nsecsElapsed() / 1e6;
        QCoreApplication::processEvents();
    }
    print("scan accepted: 12 client cards and 3 rows updated in place", runs, stats(update));
    print("same, GUI-thread CPU time", runs, stats(updateCpu));
    print("same, with the event loop's layout and painting", runs, stats(settled));
    print("refresh() within a minute of the scan", runs, stats(refresh));
    if (argc > 1) {
        view.grab().save(QString::fromLocal8Bit(argv[1]));
        std::printf("  screenshot: %s\n", argv[1]);
    }

    const int scanRuns = 5;
    print("status scan, fake tools", scanRuns, measureScans(&settings, scanRuns));

    const QString cache = qEnvironmentVariable("TAVRIN_CLI_CACHE") + QLatin1String("/node_modules/.bin");
    if (!qEnvironmentVariableIsEmpty("TAVRIN_CLI_CACHE") && QFileInfo::exists(cache + QLatin1String("/claude")) &&
        QFileInfo::exists(cache + QLatin1String("/codex"))) {
        TestEnv::removeTool(QStringLiteral("claude"));
        TestEnv::removeTool(QStringLiteral("codex"));
        // The real tools are node scripts; node itself comes from the system folders.
        qputenv(
            "PATH",
            (TestEnv::binDir() + QLatin1Char(':') + cache + QLatin1String(":/usr/local/bin:/usr/bin:/bin")).toUtf8());
        print("status scan, real claude and codex CLIs (fake python/uv/uvx)", scanRuns,
              measureScans(&settings, scanRuns));
    } else {
        std::printf("  real claude/codex CLIs not installed under $TAVRIN_CLI_CACHE/node_modules/.bin: skipped\n");
    }
    return 0;
}
