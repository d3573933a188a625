#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

// A stand-in for a running Godot editor: this very test executable, copied under a Godot name and
// started with Godot's arguments. TAVRIN_FAKE_GODOT in its environment makes it only wait: until it
// is killed, its parent ends, or two minutes pass.
namespace FakeGodot {

inline bool asked()
{
    return qEnvironmentVariableIsSet("TAVRIN_FAKE_GODOT");
}

inline int wait()
{
#ifdef Q_OS_UNIX
    const pid_t parent = getppid();
    for (int i = 0; i < 1200 && getppid() == parent; ++i)
        QThread::msleep(100);
#else
    QThread::sleep(120); // the test's Stop kills it before
#endif
    return 0;
}

// A copy of the test executable at `path` ("<dir>/godot", say).
inline bool install(const QString &path)
{
    return QFile::exists(path) || QFile::copy(QCoreApplication::applicationFilePath(), path);
}

// Ends the process when its handle goes.
struct Stop
{
    void operator()(QProcess *process) const
    {
        process->kill();
        process->waitForFinished();
        delete process;
    }
};
using Process = std::unique_ptr<QProcess, Stop>;

// Started and running when this returns.
inline Process start(const QString &program, const QStringList &arguments, const QString &workingDirectory = {})
{
    Process process(new QProcess);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TAVRIN_FAKE_GODOT"), QStringLiteral("1"));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(workingDirectory);
    process->start(program, arguments);
    if (!process->waitForStarted(10000))
        return nullptr;
    return process;
}

} // namespace FakeGodot

// TAVRIN_TEST_GUILESS_MAIN for a test that starts fake Godot editors.
#define TAVRIN_FAKE_GODOT_MAIN(TestObject)                                                                             \
    int main(int argc, char *argv[])                                                                                   \
    {                                                                                                                  \
        if (FakeGodot::asked())                                                                                        \
            return FakeGodot::wait();                                                                                  \
        TestEnv::isolate(false);                                                                                       \
        QCoreApplication app(argc, argv);                                                                              \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }
