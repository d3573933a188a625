// Times JsoncEdit on a generated settings file of about 1 MB with comments, nested objects and
// arrays, the servers object near its end: adding our member, replacing it, creating the servers
// object, removing the member, and reading the whole file. Prints median, fastest and slowest of
// the runs, and the median CPU time of the thread, which a busy machine does not inflate
// (argument: runs, default 51). Target: each edit under 10 ms.
#include "base/jsoncedit.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>

namespace {

QByteArray settingsFile(bool withServers)
{
    QByteArray text = "// Settings, written by hand over the years.\n{\n";
    for (int i = 0; text.size() < 1024 * 1024; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += "    // Section " + n + ": /* not nested */ \"quoted\" {braces}\n";
        text += "    \"editor.option" + n + "\": " + n + ", // trailing note\n";
        text += "    \"files.associations" + n + "\": {\n        \"*.gd\": \"gdscript\",\n        \"*.x" + n +
                "\": \"plain \\\"text\\\" // not a comment\",\n    },\n";
        text +=
            "    /* a block\n       comment */ \"list" + n + "\": [1, 2.5, true, null, [\"a\", {\"b\": false}],],\n";
    }
    if (withServers)
        text += "    \"mcpServers\": {\n        // other servers\n        \"other\": {\"command\": \"node\", \"args\": "
                "[\"server.js\"]},\n        \"tavrin\": {\"command\": \"uvx\"}\n    },\n";
    text += "    \"last\": \"end\"\n}\n";
    return text;
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

struct Figures
{
    double median, fastest, slowest, cpuMedian;
};

Figures measure(int runs, const QByteArray &input, const std::function<bool(QByteArray &)> &edit)
{
    QList<double> times;
    QList<double> cpu;
    for (int i = 0; i < runs; ++i) {
        QByteArray text = input;
        text.detach();
        QElapsedTimer timer;
        const double cpuStart = threadCpuMs();
        timer.start();
        const bool ok = edit(text);
        times.append(timer.nsecsElapsed() / 1e6);
        cpu.append(threadCpuMs() - cpuStart);
        if (!ok) {
            std::fprintf(stderr, "edit failed\n");
            std::exit(1);
        }
    }
    return {median(times), *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()),
            median(cpu)};
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 51;
    const QByteArray with = settingsFile(true);
    const QByteArray without = settingsFile(false);
    const QStringList path{QStringLiteral("mcpServers")};
    const QString name = QStringLiteral("tavrin");
    const QJsonObject entry{{QStringLiteral("command"), QStringLiteral("uvx")},
                            {QStringLiteral("args"), QJsonArray{QStringLiteral("tavrin")}},
                            {QStringLiteral("env"), QJsonObject{{QStringLiteral("GODOT_MCP_PERMISSION_MODE"),
                                                                 QStringLiteral("full_control")}}}};
    QByteArray withoutOurs = with;
    if (!JsoncEdit::removeMember(withoutOurs, path, name))
        return 1;

    std::printf("settings file: %lld bytes, %lld lines; %d runs each\n", static_cast<long long>(with.size()),
                static_cast<long long>(with.count('\n')), runs);
    const std::pair<const char *, Figures> rows[] = {
        {"setMember, replace our entry",
         measure(runs, with, [&](QByteArray &t) { return JsoncEdit::setMember(t, path, name, entry); })},
        {"setMember, add to the servers object",
         measure(runs, withoutOurs, [&](QByteArray &t) { return JsoncEdit::setMember(t, path, name, entry); })},
        {"setMember, create the servers object",
         measure(runs, without, [&](QByteArray &t) { return JsoncEdit::setMember(t, path, name, entry); })},
        {"removeMember, entry present",
         measure(runs, with, [&](QByteArray &t) { return JsoncEdit::removeMember(t, path, name); })},
        {"removeMember, entry absent",
         measure(runs, withoutOurs, [&](QByteArray &t) { return JsoncEdit::removeMember(t, path, name); })},
        {"parse (for comparison)", measure(runs, with, [](QByteArray &t) { return JsoncEdit::parse(t).ok; })},
    };
    for (const auto &[label, f] : rows)
        std::printf("%-38s median %6.2f ms  fastest %6.2f ms  slowest %6.2f ms  CPU median %6.2f ms\n", label, f.median,
                    f.fastest, f.slowest, f.cpuMedian);
    std::printf("target: every edit under 10 ms\n");
    return 0;
}
