#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Outcome of one run of an outside command-line tool; callers turn it into their own messages.
struct ToolResult
{
    bool started = false;  // the process was started (within the start limit, when one was given)
    bool finished = false; // it ended on its own within the finish limit
    bool crashed = false;  // it ended, but not through a normal exit
    int exitCode = -1;
    QByteArray output;   // standard output and standard error, merged
    QString errorString; // the process layer's text when it did not start
};

// One place for running tools with time limits: start, wait, kill on time-out.
// Blocking; meant for worker threads (no event loop needed).
namespace ToolProcess {

inline constexpr int NoStartWait = -1;

// Runs exe with args, standard output and error merged, standard input left open.
// startTimeoutMs: NoStartWait waits for the finish only (a failed start counts as not finished).
// A process still running after finishTimeoutMs is killed, with up to killWaitMs to end.
[[nodiscard]] ToolResult run(const QString &exe, const QStringList &args, int startTimeoutMs, int finishTimeoutMs,
                             int killWaitMs = 3000);

} // namespace ToolProcess
