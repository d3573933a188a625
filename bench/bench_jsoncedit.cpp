// Times JsoncEdit on a generated settings file of about 1 MB with comments, nested objects and
// arrays, the servers object near its end: adding our member, replacing it, creating the servers
// object, removing the member, and reading the whole file. Prints median, fastest and slowest of
// the runs (argument: runs, default 31). Target: each edit under 10 ms.
#include "jsoncedit.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

struct Figures
{
    double median, fastest, slowest;
};

Figures measure(int runs, const QByteArray &input, const std::function<bool(QByteArray &)> &edit)
{
    QList<double> times;
    for (int i = 0; i < runs; ++i) {
        QByteArray text = input;
        text.detach();
        QElapsedTimer timer;
        timer.start();
        const bool ok = edit(text);
        times.append(timer.nsecsElapsed() / 1e6);
        if (!ok) {
            std::fprintf(stderr, "edit failed\n");
            std::exit(1);
        }
    }
    std::sort(times.begin(), times.end());
    return {times.at(times.size() / 2), times.first(), times.last()};
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
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
        std::printf("%-40s median %6.2f ms  fastest %6.2f ms  slowest %6.2f ms  (target < 10 ms for edits)\n", label,
                    f.median, f.fastest, f.slowest);
    return 0;
}
