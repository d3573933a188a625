// Times what the Setup page asks of a Godot project: GodotProject::read and the plugin edit on a
// generated project.godot of about 1 MB (thousands of input actions, as Godot writes them), and
// GodotEditors::editorsFor with 500 extra processes running, one of them a Godot editor on the
// project. Prints median, fastest and slowest wall time and the median CPU time of the thread
// (argument: runs, default 51). Targets: read and edit at most 5 ms each, editorsFor at most 20 ms.
#include "core/godotconfigedit.h"
#include "core/godoteditors.h"
#include "core/godotproject.h"
#include "fakegodot.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

QByteArray projectFile(const QByteArray &plugins)
{
    QByteArray text = "; Engine configuration file.\n;\n\nconfig_version=5\n\n[application]\n\n"
                      "config/name=\"Benchmark\"\nconfig/features=PackedStringArray(\"4.3\", \"Forward Plus\")\n\n"
                      "[display]\n\nwindow/size/viewport_width=1920\n\n";
    if (!plugins.isEmpty())
        text += "[editor_plugins]\n\nenabled=PackedStringArray(" + plugins + ")\n\n";
    text += "[input]\n\n";
    for (int i = 0; text.size() < 1024 * 1024; ++i) {
        const QByteArray n = QByteArray::number(i);
        text += "action_" + n +
                "={\n\"deadzone\": 0.5,\n\"events\": [Object(InputEventKey,\"resource_local_to_scene\":"
                "false,\"resource_name\":\"\",\"device\":-1,\"window_id\":0,\"alt_pressed\":false,\"shift_pressed\":"
                "false,\"ctrl_pressed\":false,\"meta_pressed\":false,\"pressed\":false,\"keycode\":0,"
                "\"physical_keycode\":" +
                n + ",\"key_label\":0,\"unicode\":" + n +
                ",\"location\":0,\"echo\":false,\"script\":null)\n, Object(InputEventJoypadButton,"
                "\"resource_local_to_scene\":false,\"resource_name\":\"\",\"device\":-1,\"button_index\":0,"
                "\"pressure\":0.0,\"pressed\":true,\"script\":null)\n]\n}\n";
    }
    text += "\n[rendering]\n\nenvironment/defaults/default_clear_color=Color(0.3, 0.3, 0.3, 1)\n";
    return text;
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void measure(const char *name, int runs, const std::function<bool()> &step)
{
    QList<double> times;
    QList<double> cpu;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        const double cpuStart = threadCpuMs();
        timer.start();
        const bool ok = step();
        times.append(timer.nsecsElapsed() / 1e6);
        cpu.append(threadCpuMs() - cpuStart);
        if (!ok) {
            std::fprintf(stderr, "%s: wrong result\n", name);
            std::exit(1);
        }
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("%-52s median %7.2f ms  fastest %7.2f ms  slowest %7.2f ms  CPU median %7.2f ms\n", name,
                times.at(runs / 2), times.first(), times.last(), cpu.at(runs / 2));
}

int processCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[1-9]*")}, QDir::Dirs).size());
}

} // namespace

int main(int argc, char *argv[])
{
    if (FakeGodot::asked())
        return FakeGodot::wait();
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 51;
    QTemporaryDir work;
    const QString folder = work.path() + QStringLiteral("/game");
    const QString ours = GodotProject::pluginPath();
    const QByteArray others = "\"res://addons/a/plugin.cfg\", \"res://addons/z/plugin.cfg\"";
    const QByteArray plain = projectFile({}), listed = projectFile(others + ", \"" + ours.toUtf8() + "\"");
    QDir().mkpath(folder);
    {
        QFile file(folder + QStringLiteral("/project.godot"));
        if (!file.open(QIODevice::WriteOnly) || file.write(listed) != listed.size())
            return 1;
    }
    const GodotConfigEdit::Parsed parsed = GodotConfigEdit::parse(listed);
    std::printf("project.godot: %lld bytes, %lld settings\n", static_cast<long long>(listed.size()),
                static_cast<long long>(parsed.values.size()));

    measure("GodotProject::read (file read and parse)", runs, [&] {
        const GodotProjectInfo info = GodotProject::read(folder);
        return info.readable && info.enabledPlugins.size() == 3 && info.name == QLatin1String("Benchmark");
    });
    QString error;
    measure("setPluginEnabled, enable: section inserted", runs, [&] {
        const std::optional<QByteArray> out = GodotConfigEdit::setPluginEnabled(plain, ours, true, &error);
        return out && out->size() > plain.size();
    });
    measure("setPluginEnabled, disable: taken off a list of three", runs, [&] {
        const std::optional<QByteArray> out = GodotConfigEdit::setPluginEnabled(listed, ours, false, &error);
        return out && out->size() < listed.size();
    });
    measure("setPluginEnabled, enable: already listed", runs, [&] {
        const std::optional<QByteArray> out = GodotConfigEdit::setPluginEnabled(listed, ours, true, &error);
        return out && *out == listed;
    });

    // 500 more processes, one of them an editor on the project.
    const QString godot = work.path() + QStringLiteral("/godot");
    if (!FakeGodot::install(godot))
        return 1;
    QList<qint64> pids;
    qint64 editor = 0;
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TAVRIN_FAKE_GODOT"), QStringLiteral("1"));
        process.setProcessEnvironment(environment);
        process.setProgram(godot);
        process.setArguments({QStringLiteral("--path"), folder, QStringLiteral("--editor")});
        if (!process.startDetached(&editor))
            return 1;
        pids << editor;
    }
    for (int i = 1; i < 500; ++i) {
        qint64 pid = 0;
        if (!QProcess::startDetached(QStringLiteral("sleep"), {QStringLiteral("300")}, {}, &pid))
            return 1;
        pids << pid;
    }
    std::printf("processes running: %d\n", processCount());
    measure("GodotEditors::editorsFor, 500 more processes", runs, [&] {
        const QList<qint64> found = GodotEditors::editorsFor(folder);
        return found == QList<qint64>{editor};
    });
    for (const qint64 pid : std::as_const(pids))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    return 0;
}
