#include "base/processtree.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QSet>
#include <QThread>

#include <atomic>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#include <sys/wait.h>
#endif

namespace {

#ifdef Q_OS_WIN
constexpr int s_kill = 0; // TerminateJobObject knows no signals
#else
constexpr int s_kill = SIGKILL;
#endif

// Never destroyed: a pool thread may still end a tree while static objects are torn down at exit.
QMutex &s_mutex = *new QMutex;
QSet<ProcessTree *> &s_live = *new QSet<ProcessTree *>; // guarded by s_mutex
std::atomic<bool> s_shutdown{false};                    // written under s_mutex

#ifdef Q_OS_LINUX
std::atomic<quint64> s_trees{0};
const QByteArray s_markerName = QByteArrayLiteral("TAVRIN_PROCESS_TREE=");

// The parent of every process we can see, from /proc.
QHash<pid_t, pid_t> parents()
{
    QHash<pid_t, pid_t> result;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const pid_t pid = pid_t(entry.toInt(&numeric));
        if (!numeric)
            continue;
        QFile file(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = file.readAll();
        // "pid (name) state ppid ...": the name may hold anything, so parse after its last ')'.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            result.insert(pid, pid_t(fields.at(1).toInt()));
    }
    return result;
}

bool carries(pid_t pid, const QByteArray &marker)
{
    QFile file(QStringLiteral("/proc/%1/environ").arg(pid));
    return file.open(QIODevice::ReadOnly) && file.readAll().split('\0').contains(marker);
}
#endif

} // namespace

ProcessTree::ProcessTree(QProcess *process) : m_process(process)
{
#ifndef Q_OS_WIN
    // Runs in the child between fork and exec: only async-signal-safe calls belong here.
    m_process->setChildProcessModifier([] { ::setpgid(0, 0); });
#endif
#ifdef Q_OS_LINUX
    // The group is left by a descendant that calls setsid(), and a process whose parent ends goes
    // to init. As a subreaper this process adopts such orphans instead, and the mark in their
    // environment tells them from anything else it adopts (a program opened for the user, say).
    m_marker = s_markerName + QByteArray::number(::getpid()) + '-' + QByteArray::number(++s_trees);
    QProcessEnvironment environment = m_process->processEnvironment();
    if (environment.isEmpty())
        environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(s_markerName.chopped(1)),
                       QString::fromLatin1(m_marker.mid(s_markerName.size())));
    m_process->setProcessEnvironment(environment);
#endif
    const QMutexLocker lock(&s_mutex);
#ifdef Q_OS_LINUX
    // Only while trees live: an orphan adopted then is never reaped by anyone else.
    if (s_live.isEmpty())
        ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
#endif
    s_live.insert(this);
}

ProcessTree::~ProcessTree()
{
    const QMutexLocker lock(&s_mutex);
    s_live.remove(this);
    if (m_group > 0)
        signalGroup(s_kill);
#ifdef Q_OS_LINUX
    if (s_live.isEmpty())
        ::prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
#endif
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
#ifdef Q_OS_LINUX
    if (signal == SIGKILL) {
        endDescendants();
        return;
    }
#endif
    ::kill(-pid_t(m_group), signal);
#endif
}

#ifdef Q_OS_LINUX
// Called with s_mutex held. Ends the group and every other descendant: those still below the child
// and those adopted after their parent ended; then reaps the adopted ones, which nobody else will.
void ProcessTree::endDescendants()
{
    const pid_t self = ::getpid(), root = pid_t(m_group);
    const QHash<pid_t, pid_t> parent = parents();
    QHash<pid_t, QList<pid_t>> children;
    for (auto it = parent.cbegin(); it != parent.cend(); ++it)
        children[it.value()].append(it.key());
    QList<pid_t> doomed;
    for (const pid_t pid : children.value(self))
        if (pid != root && carries(pid, m_marker))
            doomed.append(pid);
    QList<pid_t> below = children.value(root);
    while (!below.isEmpty()) {
        const pid_t pid = below.takeLast();
        if (pid == self || doomed.contains(pid))
            continue;
        doomed.append(pid);
        below += children.value(pid);
    }
    ::kill(-root, SIGKILL);
    for (const pid_t pid : std::as_const(doomed))
        ::kill(pid, SIGKILL);
    // Each ends at once, or once its parent (ended too) is gone and it has come to us.
    QElapsedTimer clock;
    clock.start();
    while (!doomed.isEmpty() && clock.elapsed() < 1000) {
        for (qsizetype i = doomed.size() - 1; i >= 0; --i) {
            const pid_t pid = doomed.at(i);
            const pid_t reaped = ::waitpid(pid, nullptr, WNOHANG);
            if (reaped == pid || (reaped < 0 && !QFile::exists(QStringLiteral("/proc/%1").arg(pid))))
                doomed.removeAt(i);
        }
        if (!doomed.isEmpty())
            QThread::msleep(2);
    }
}
#endif
