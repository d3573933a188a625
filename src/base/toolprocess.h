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
    QByteArray output;      // standard output and standard error merged, or standard output alone
    QByteArray errorOutput; // standard error, when the channels were kept apart
    QString errorString;    // the process layer's text when it did not start
};

// One place for running tools with time limits: start, wait, kill on time-out.
// Blocking; meant for worker threads (no event loop needed).
namespace ToolProcess {

inline constexpr int NoStartWait = -1;

enum class Channels {
    Merged,   // output holds standard output and standard error interleaved
    Separate, // output holds standard output, errorOutput standard error
};

// Runs exe with args, standard input left open, as a process tree of its own (see ProcessTree):
// a time-out ends the tool and everything it started. Once the application is quitting
// (ProcessTree::shutdown) nothing is started and a running tool ends at once.
// startTimeoutMs: NoStartWait waits for the finish only (a failed start counts as not finished).
// A process still running after finishTimeoutMs is killed, with up to killWaitMs to end.
[[nodiscard]] ToolResult run(const QString &exe, const QStringList &args, int startTimeoutMs, int finishTimeoutMs,
                             int killWaitMs = 3000, Channels channels = Channels::Merged);

// Windows runs a .cmd or .bat file (every npm CLI's shim) through cmd.exe, which parses the
// command line once more: an argument holding ", %, !, ^, &, |, <, >, or a line break could end
// the command and start another, or expand a variable. Empty when exe may take args; else why
// not. run() refuses such a call on Windows, and the tool does not start.
[[nodiscard]] QString batchArgumentProblem(const QString &exe, const QStringList &args);

// From the moment the application is about to quit, every running tool's tree is killed and no
// tool starts again, so that workers waiting on tools end at once instead of holding the
// application's exit. Call once the application object exists.
void endAllWhenQuitting();

// Test seam: multiplies every finish limit by factor (1.0 in the application), so that a hanging
// tool can be exercised in milliseconds. Safe to call from any thread.
void setFinishTimeScale(double factor);

} // namespace ToolProcess
