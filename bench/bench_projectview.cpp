// Times ProjectView::buildRecentList with ten recent projects (every other one with the addon
// installed, so half the cards read a plugin.cfg), on a shown page with the application's theme.
// Prints the median and the slowest of the rebuilds, with and without the deferred deletion of
// the previous cards that follows each rebuild in the event loop.
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
    app.setStyleSheet(Theme::STYLE_SHEET);
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

    QList<double> build;
    QList<double> withDeletion;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        view.buildRecentList();
        build.append(timer.nsecsElapsed() / 1e6);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        withDeletion.append(timer.nsecsElapsed() / 1e6);
        QApplication::processEvents(); // shows the new cards, as the event loop would
    }
    std::printf("buildRecentList, 10 projects, %d runs: median %.3f ms, slowest %.3f ms (target < 5 ms)\n", runs,
                median(build), *std::max_element(build.begin(), build.end()));
    std::printf("including deletion of the previous cards: median %.3f ms, slowest %.3f ms\n", median(withDeletion),
                *std::max_element(withDeletion.begin(), withDeletion.end()));
    return 0;
}
