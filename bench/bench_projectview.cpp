// Times ProjectView::refresh with ten recent projects (every other one with the addon installed,
// so half the cards read a plugin.cfg), on a shown page with the application's theme: the cards
// are updated in place. Prints the median and the slowest, with and without the event loop's
// work that follows (layout and painting of what changed).
#include "core/settings.h"
#include "gui/projectview.h"
#include "gui/widgets/theme.h"
#include "testenv.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

namespace {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    TestEnv::isolate(true);
    QApplication app(argc, argv);
    app.setStyleSheet(Theme::styleSheet());
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    Settings settings;
    for (int i = 10; i >= 1; --i) {
        const QString dir = TestEnv::home() + QStringLiteral("/godot/game-%1").arg(i);
        TestEnv::writeFile(dir + QLatin1String("/project.godot"), "config_version=5\n");
        if (i % 2)
            TestEnv::writeFile(dir + QLatin1String("/addons/tavrin_mcp/plugin.cfg"),
                               QStringLiteral("[plugin]\nversion=\"0.9.%1\"\n").arg(i).toUtf8());
        settings.addRecentProject(dir, QStringLiteral("game-%1").arg(i));
    }

    ProjectView view(&settings);
    view.resize(840, 720);
    view.show();
    QApplication::processEvents();

    QList<double> refresh;
    QList<double> withEvents;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        view.refresh();
        refresh.append(timer.nsecsElapsed() / 1e6);
        QApplication::processEvents(); // lays out and paints, as the event loop would
        withEvents.append(timer.nsecsElapsed() / 1e6);
    }
    std::printf("refresh, 10 projects, %d runs: median %.3f ms, slowest %.3f ms (target < 5 ms)\n", runs,
                median(refresh), *std::max_element(refresh.begin(), refresh.end()));
    std::printf("including the event loop's work after it: median %.3f ms, slowest %.3f ms\n", median(withEvents),
                *std::max_element(withEvents.begin(), withEvents.end()));
    return 0;
}
