#include "base/processtree.h"

#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSet>

#include <atomic>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
constexpr int s_kill = 0; // TerminateJobObject knows no signals
#else
constexpr int s_kill = SIGKILL;
#endif

QMutex s_mutex;
QSet<ProcessTree *> s_live;          // guarded by s_mutex
std::atomic<bool> s_shutdown{false}; // written under s_mutex

} // namespace

ProcessTree::ProcessTree(QProcess *process) : m_process(process)
{
#ifndef Q_OS_WIN
    // Runs in the child between fork and exec: only async-signal-safe calls belong here.
    m_process->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
    const QMutexLocker lock(&s_mutex);
    s_live.insert(this);
}

ProcessTree::~ProcessTree()
{
    const QMutexLocker lock(&s_mutex);
    s_live.remove(this);
    if (m_group > 0)
        signalGroup(s_kill);
#ifdef Q_OS_WIN
    if (m_job)
        CloseHandle(m_job); // kill-on-close ends what is left
    m_job = nullptr;
#endif
}

void ProcessTree::started()
{
    const qint64 pid = m_process->processId();
    if (pid <= 0)
        return;
#ifdef Q_OS_WIN
    // Assigned after the start: a grandchild started in the instant before would escape, but a
    // shim needs far longer than that to start its program.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        HANDLE child = OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(pid));
        if (!child || !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
            !AssignProcessToJobObject(job, child)) {
            CloseHandle(job);
            job = nullptr;
        }
        if (child)
            CloseHandle(child);
    }
#else
    // Also from this side, so the group exists whichever of the two runs first.
    ::setpgid(pid_t(pid), pid_t(pid));
#endif
    const QMutexLocker lock(&s_mutex);
    m_group = pid;
#ifdef Q_OS_WIN
    m_job = job;
#endif
    if (s_shutdown.load())
        signalGroup(s_kill);
}

void ProcessTree::terminate()
{
    const QMutexLocker lock(&s_mutex);
#ifdef Q_OS_WIN
    signalGroup(s_kill);
#else
    signalGroup(SIGTERM);
#endif
}

void ProcessTree::kill()
{
    const QMutexLocker lock(&s_mutex);
    signalGroup(s_kill);
}

void ProcessTree::shutdown()
{
    const QMutexLocker lock(&s_mutex);
    s_shutdown.store(true);
    for (ProcessTree *tree : std::as_const(s_live))
        tree->signalGroup(s_kill);
}

bool ProcessTree::isShuttingDown()
{
    return s_shutdown.load();
}

// Called with s_mutex held.
void ProcessTree::signalGroup(int signal)
{
    if (m_group <= 0)
        return;
#ifdef Q_OS_WIN
    Q_UNUSED(signal)
    if (m_job)
        TerminateJobObject(m_job, 1);
    else if (HANDLE child = OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(m_group))) {
        TerminateProcess(child, 1);
        CloseHandle(child);
    }
#else
    ::kill(-pid_t(m_group), signal);
#endif
}
