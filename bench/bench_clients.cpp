// Wall time of Clients::detect and Prereqs::check, with small fake tools and with the real
// claude and codex CLIs (when $TAVRIN_CLI_CACHE holds them). Prints one line per scenario.
// "the six" are the first six catalogue rows configured, the others absent; "all twelve" adds the
// other six, installed (a fake program each) and configured in their own files.
#include "base/toolprocess.h"
#include "core/clients.h"
#include "core/prereqs.h"
#include "fakes/fakecli.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

void measure(const char *label, int runs, const std::function<void()> &work)
{
    QList<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        ms << timer.nsecsElapsed() / 1e6;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-60s runs %2d  median %8.1f ms  min %8.1f ms  max %8.1f ms\n", label, runs, ms.at(ms.size() / 2),
                ms.first(), ms.last());
}

void detect()
{
    const QList<ClientInfo> list = Clients().detect();
    Q_ASSERT(list.size() == ClientCatalogue::all().size());
    Q_UNUSED(list)
}

void check()
{
    const QList<PrereqResult> list = Prereqs().check();
    Q_ASSERT(list.size() == 3);
    Q_UNUSED(list)
}

} // namespace

int main(int argc, char *argv[])
{
    const QStringList realPath = QString::fromLocal8Bit(qgetenv("PATH")).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    TestEnv::isolate(false);
    QCoreApplication app(argc, argv);
    const int runs = 20;

    measure("detect, nothing installed", runs, detect);

    // JSON clients present and configured, fake CLIs answering at once.
    for (const char *file : {"/.cursor/mcp.json", "/.codeium/windsurf/mcp_config.json"})
        TestEnv::writeFile(TestEnv::home() + QLatin1String(file), R"({"mcpServers":{"tavrin":{}}})");
    const QString state = TestEnv::root().path() + QLatin1String("/state");
    if (!FakeCli::write(state) ||
        !FakeCli::answer(state, QStringLiteral("claude"), QStringLiteral("get"), "tavrin:\n  Scope: User config\n") ||
        !FakeCli::answer(state, QStringLiteral("codex"), QStringLiteral("get"), R"({"name": "tavrin"})"))
        return 1;
    measure("detect, fake claude queried, fake codex", runs, detect);
    TestEnv::writeFile(TestEnv::home() + QLatin1String("/.claude.json"), R"({"mcpServers":{"tavrin":{}}})");
    measure("detect, the six: claude from .claude.json, fake codex", runs, detect);
    {
        Clients clients;
        for (const ClientCatalogue::Client &client : ClientCatalogue::all().mid(6)) {
            TestEnv::writeTool(client.executables.first(), "exit 0");
            if (!clients.writeConfig(client.id, QStringLiteral("safe_edit")))
                std::printf("%s: %s\n", qPrintable(client.id), qPrintable(clients.lastError()));
        }
    }
    measure("detect, all twelve: the six, and six more configured", runs, detect);
    // Without the codex process, whose start dominates (and scatters) the figures above, the
    // difference between these two is what the six more clients cost.
    TestEnv::removeTool(QStringLiteral("codex"));
    measure("detect, all twelve, codex absent", runs, detect);
    for (const ClientCatalogue::Client &client : ClientCatalogue::all().mid(6)) {
        TestEnv::removeTool(client.executables.first());
        QFile::remove(ClientCatalogue::configPath(client.id));
    }
    measure("detect, the six, codex absent", runs, detect);

    measure("check, nothing installed", runs, check);
    TestEnv::writeTool(QStringLiteral("python"), "echo 'Python 3.12.1'");
    TestEnv::writeTool(QStringLiteral("uv"), "echo 'uv 0.5.1'");
    TestEnv::writeTool(QStringLiteral("uvx"), "echo 'uv 0.5.1'");
    measure("check, three fake programs", runs, check);

    const QString bin = qEnvironmentVariable("TAVRIN_CLI_CACHE") + QLatin1String("/node_modules/.bin");
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"), realPath);
    if (!QFileInfo(bin + QLatin1String("/claude")).isExecutable() || node.isEmpty()) {
        std::printf("real CLIs: none under $TAVRIN_CLI_CACHE (run scripts/install-clis.sh <folder> first)\n");
        return 0;
    }
    QDir(TestEnv::home()).removeRecursively();
    QDir().mkpath(TestEnv::home());
    QDir(TestEnv::binDir()).removeRecursively();
    QDir().mkpath(TestEnv::binDir());
    qputenv("PATH", (bin + QLatin1Char(':') + QFileInfo(node).absolutePath() + QLatin1String(":/bin")).toUtf8());
    qputenv("CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC", "1");
    qputenv("DISABLE_TELEMETRY", "1");
    qputenv("DISABLE_AUTOUPDATER", "1");
    Clients clients;
    if (!clients.writeConfig(QStringLiteral("claude-code"), QStringLiteral("safe_edit")) ||
        !clients.writeConfig(QStringLiteral("codex"), QStringLiteral("safe_edit"))) {
        std::printf("real CLIs: registration failed: %s\n", qPrintable(clients.lastError()));
        return 1;
    }
    const int realRuns = 5;
    measure("real CLIs: detect (claude from .claude.json, codex query)", realRuns, detect);
    QFile::rename(TestEnv::home() + QLatin1String("/.claude.json"), TestEnv::home() + QLatin1String("/saved.json"));
    measure("real CLIs: detect (claude mcp get on a fresh config, codex)", realRuns, [&] {
        QFile::remove(TestEnv::home() + QLatin1String("/.claude.json")); // each run starts without the file
        detect();
    });
    QFile::remove(TestEnv::home() + QLatin1String("/.claude.json"));
    QFile::rename(TestEnv::home() + QLatin1String("/saved.json"), TestEnv::home() + QLatin1String("/.claude.json"));
    // What detection avoids by reading .claude.json: the query starts the server as a health check.
    measure("real CLIs: claude mcp get tavrin, entry present", realRuns, [&] {
        const ToolResult r = ToolProcess::run(bin + QLatin1String("/claude"),
                                              {QStringLiteral("mcp"), QStringLiteral("get"), QStringLiteral("tavrin")},
                                              ToolProcess::NoStartWait, 30000);
        Q_UNUSED(r)
    });
    measure("real CLIs: writeConfig claude-code (remove + add)", realRuns,
            [&] { clients.writeConfig(QStringLiteral("claude-code"), QStringLiteral("full_control")); });
    measure("real CLIs: writeConfig codex", realRuns,
            [&] { clients.writeConfig(QStringLiteral("codex"), QStringLiteral("full_control")); });
    return 0;
}
