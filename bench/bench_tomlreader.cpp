// Times TomlReader::parse on generated documents of about 1 MB in shapes that stress a reader:
// many tables, many arrays of tables, many keys in one table, a long inline table, a long array,
// deep nesting of every kind (which must be refused), long strings and numbers, and a Codex-like
// config with thousands of servers. Prints the size, whether the document was read or refused (with
// the reason), the median and slowest wall time of the runs and the median CPU time.
// Usage: bench_tomlreader [runs] [shape]   (default 5 runs, every shape; a shape is picked by the
// start of its label, so that a slow or crashing reader can be run on one shape at a time)
#include "base/tomlreader.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>

namespace {

QByteArray repeated(int count, const std::function<QByteArray(int)> &piece)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += piece(i);
    return text;
}

struct Shape
{
    const char *label;
    QByteArray text;
};

QList<Shape> shapes()
{
    const auto n = [](int i) { return QByteArray::number(i); };
    return {
        {"100,000 [[tables]] of one key", repeated(100000, [](int) { return QByteArray("[[t]]\nk = 1\n"); })},
        {"100,000 [tables] of one key", repeated(100000, [&](int i) { return "[t" + n(i) + "]\nk = 1\n"; })},
        {"100,000 keys in one table", "[t]\n" + repeated(100000, [&](int i) { return "k" + n(i) + " = 1\n"; })},
        {"100,000 dotted keys in one table", repeated(100000, [&](int i) { return "a.k" + n(i) + " = 1\n"; })},
        {"inline table of 80,000 keys",
         "t = {" + repeated(80000, [&](int i) { return "k" + n(i) + " = 1, "; }) + "z = 1}\n"},
        {"array of 200,000 numbers", "a = [" + repeated(200000, [&](int i) { return n(i % 100) + ", "; }) + "0]\n"},
        {"10,000 servers as Codex writes them", repeated(10000,
                                                         [&](int i) {
                                                             return "[mcp_servers.s" + n(i) +
                                                                    "]\ncommand = \"uvx\"\nargs = [\"tool" + n(i) +
                                                                    "\"]\n\n[mcp_servers.s" + n(i) +
                                                                    ".env]\nMODE = \"safe_edit\"\n\n";
                                                         })},
        {"1 MB string with escapes", "s = \"" + QByteArray("a\\t\\u00e9\\\"").repeated(100000) + "\"\n"},
        {"1 MB number", "n = " + QByteArray(1 << 20, '1') + "\n"},
        {"20,000 nested inline tables",
         "a = " + QByteArray("{b = ").repeated(20000) + "1" + QByteArray("}").repeated(20000) + "\n"},
        {"500,000 nested arrays", "a = " + QByteArray(500000, '[') + QByteArray(500000, ']') + "\n"},
        {"dotted key of 300,000 parts", "a" + QByteArray(".a").repeated(300000) + " = 1\n"},
        {"table header of 300,000 parts", "[a" + QByteArray(".a").repeated(300000) + "]\n"},
    };
}

// CPU time of this thread: on a loaded machine wall time mostly measures the wait for a core.
double threadCpuMs()
{
#ifdef CLOCK_THREAD_CPUTIME_ID
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
#else
    return 0;
#endif
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    std::printf("%d runs each; parse of the whole document into JSON terms\n\n", runs);
    std::printf("%-38s %9s  %-44s %10s %10s %10s\n", "shape", "bytes", "result", "median", "slowest", "median cpu");
    for (const Shape &shape : shapes()) {
        if (!QByteArray(shape.label).startsWith(only))
            continue;
        QList<double> times, cpu;
        bool ok = false;
        QString error;
        for (int i = 0; i < runs; ++i) {
            QJsonObject document;
            QElapsedTimer timer;
            const double cpuStart = threadCpuMs();
            timer.start();
            ok = TomlReader::parse(shape.text, &document, &error);
            times.append(double(timer.nsecsElapsed()) / 1e6);
            cpu.append(threadCpuMs() - cpuStart);
        }
        const QString result = ok ? QStringLiteral("read") : QStringLiteral("refused: ") + error;
        std::printf("%-38s %9lld  %-44s %7.1f ms %7.1f ms %7.1f ms\n", shape.label,
                    static_cast<long long>(shape.text.size()), qPrintable(result.left(44)), median(times),
                    *std::max_element(times.begin(), times.end()), median(cpu));
        std::fflush(stdout);
    }
    std::printf("\ntarget: every shape read or refused in well under a second\n");
    return 0;
}
