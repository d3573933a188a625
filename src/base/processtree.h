#pragma once

#include <QByteArray>
#include <QtGlobal>

class QProcess;

// Keeps a child process and every process it starts together, so that they end as one: the child
// leads a process group of its own on Linux and macOS (on Linux, descendants that leave the group
// are found and ended too), and sits in a kill-on-close job object on
// Windows (where npm's ".cmd" shims start the real node.exe as a grandchild). Live trees are
// registered, so that quitting the application can end every tool that is still running, from any
// thread.
class ProcessTree
{
public:
    // Before the process is started: arranges for its own process group. On Linux it also marks
    // the process environment, so a caller that sets one afterwards extends processEnvironment().
    explicit ProcessTree(QProcess *process);
    // Ends whatever is left of the tree (a grandchild that outlived its parent, say).
    ~ProcessTree();
    ProcessTree(const ProcessTree &) = delete;
    ProcessTree &operator=(const ProcessTree &) = delete;

    // After the process has started (waitForStarted or the started signal). When the application
    // is shutting down, the tree is killed at once.
    void started();
    // Asks the whole tree to end (SIGTERM to the group; on Windows the same as kill()).
    void terminate();
    // Ends the whole tree at once, also after the child itself has exited. Thread-safe: uses only
    // the group id or job recorded at start, never the QProcess.
    void kill();

    // Kills every live tree and every tree started afterwards; for quitting the application.
    static void shutdown();
    [[nodiscard]] static bool isShuttingDown();

private:
    void signalGroup(int signal);
#ifdef Q_OS_LINUX
    void endDescendants();
    QByteArray m_marker; // NAME=VALUE in the environment of the tree's processes
#endif

    QProcess *m_process;
    qint64 m_group = 0; // the group id (the child's pid) once started
#ifdef Q_OS_WIN
    void *m_job = nullptr; // HANDLE of the job object
#endif
};
