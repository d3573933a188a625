// Figures for the Setup page: the whole-page rebuild with six clients and three prerequisites,
// and the background status scan with fake tools and, when installed, the real claude and codex
// command-line tools. Optional first argument: a PNG path for a screenshot of the scanned page.
#include "testenv.h"

#include "core/addon.h"
#include "core/clients.h"
#include "core/prereqs.h"
#include "core/settings.h"
#include "gui/setup/setupview.h"
#include "gui/widgets/theme.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QScrollArea>
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

bool hasClientCards(SetupView *view)
{
    for (QLabel *label : view->findChildren<QLabel *>()) {
        if (label->text() == QLatin1String("Codex"))
            return true;
    }
    return false;
}

// Time from the first refresh (which starts the scan) to the page showing the scanned cards.
Stats measureScans(Settings *settings, Addon *addon, int runs)
{
    QList<double> samples;
    for (int i = 0; i < runs; ++i) {
        Clients clients;
        Prereqs prereqs;
        SetupView view(settings, addon, &clients, &prereqs);
        QElapsedTimer clock;
        clock.start();
        view.refresh();
        while (!hasClientCards(&view)) {
            if (clock.elapsed() > 120000) {
                std::printf("  scan did not finish within 120 s\n");
                return {};
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        samples << clock.nsecsElapsed() / 1e6;
        QThreadPool::globalInstance()->waitForDone();
    }
    return stats(samples);
}

void writeFakeTools()
{
    TestEnv::writeTool(QStringLiteral("claude"),
                       "if [ \"$2\" = get ]; then printf 'tavrin:\\n  Scope: User config\\n'; fi");
    TestEnv::writeTool(QStringLiteral("codex"), "if [ \"$2\" = get ]; then echo '{\"name\":\"tavrin\"}'; fi");
    TestEnv::writeTool(QStringLiteral("python"), "echo 'Python 3.12.1'");
    TestEnv::writeTool(QStringLiteral("uv"), "echo 'uv 0.5.1'");
    TestEnv::writeTool(QStringLiteral("uvx"), "echo 'uvx 0.5.1'");
}

} // namespace

int main(int argc, char *argv[])
{
    TestEnv::isolate(true);
    QApplication app(argc, argv);
    app.setStyleSheet(Theme::STYLE_SHEET);
    writeFakeTools();

    // Every client present, so that all six cards carry a button.
    const QString project = TestEnv::root().path() + QLatin1String("/project");
    TestEnv::writeFile(project + QLatin1String("/project.godot"), "config_version=5\n");
    for (const char *id : {"claude-desktop", "cursor", "windsurf", "cline"})
        QDir().mkpath(QFileInfo(Clients::configPathFor(QLatin1String(id))).absolutePath());

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

    std::printf("Setup page (%s build)\n", QT_VERSION_STR);

    // Rebuild: refresh() within a minute of an accepted scan is exactly one rebuildAll().
    {
        Clients clients;
        Prereqs prereqs;
        SetupView view(&settings, &addon, &clients, &prereqs);
        view.resize(1000, 760);
        view.show();
        view.refresh();
        QElapsedTimer wait;
        wait.start();
        while (!hasClientCards(&view) && wait.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        QThreadPool::globalInstance()->waitForDone();
        QCoreApplication::processEvents();

        const int runs = 200;
        QList<double> rebuild, rebuildCpu, settled;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer clock;
            clock.start();
            const double cpu = threadCpuMs();
            view.refresh();
            rebuildCpu << threadCpuMs() - cpu;
            rebuild << clock.nsecsElapsed() / 1e6;
            // Polish, layout and deletion of the previous content, as the event loop does them.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
            settled << clock.nsecsElapsed() / 1e6;
        }
        const Stats r = stats(rebuild);
        const Stats c = stats(rebuildCpu);
        const Stats s = stats(settled);
        std::printf("  rebuildAll via refresh(), %d runs: min %.2f ms, median %.2f ms, max %.2f ms\n", runs, r.min,
                    r.median, r.max);
        std::printf("  same, GUI thread CPU time: min %.2f ms, median %.2f ms, max %.2f ms\n", c.min, c.median, c.max);
        std::printf("  rebuild + polish/layout/delete in the event loop: min %.2f ms, median %.2f ms, max %.2f ms\n",
                    s.min, s.median, s.max);
        if (argc > 1) {
            view.grab().save(QString::fromLocal8Bit(argv[1]));
            std::printf("  screenshot: %s\n", argv[1]);
        }
    }

    const int scanRuns = 5;
    const Stats fake = measureScans(&settings, &addon, scanRuns);
    std::printf("  status scan, fake tools, %d runs: min %.1f ms, median %.1f ms, max %.1f ms\n", scanRuns, fake.min,
                fake.median, fake.max);

    const QString cache = qEnvironmentVariable("TAVRIN_CLI_CACHE") + QLatin1String("/node_modules/.bin");
    if (!qEnvironmentVariableIsEmpty("TAVRIN_CLI_CACHE") && QFileInfo::exists(cache + QLatin1String("/claude")) &&
        QFileInfo::exists(cache + QLatin1String("/codex"))) {
        TestEnv::removeTool(QStringLiteral("claude"));
        TestEnv::removeTool(QStringLiteral("codex"));
        // The real tools are node scripts; node itself comes from the system folders.
        qputenv(
            "PATH",
            (TestEnv::binDir() + QLatin1Char(':') + cache + QLatin1String(":/usr/local/bin:/usr/bin:/bin")).toUtf8());
        const Stats real = measureScans(&settings, &addon, scanRuns);
        std::printf("  status scan, real claude and codex CLIs (fake python/uv/uvx), %d runs: min %.1f ms, median "
                    "%.1f ms, max %.1f ms\n",
                    scanRuns, real.min, real.median, real.max);
    } else {
        std::printf("  real claude/codex CLIs not installed under $TAVRIN_CLI_CACHE/node_modules/.bin: skipped\n");
    }
    return 0;
}
