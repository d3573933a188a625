#pragma once

#include <QByteArray>
#include <QString>

// A unified diff (as `diff -u` prints it) of two versions of a text file, for showing a change
// before it is made. Lines are compared as bytes, line endings included, so a change of ending
// shows; a last line without one is marked as diff marks it.
namespace UnifiedDiff {

// Empty when the two are the same. `fromLabel` is "/dev/null" for a file that does not exist yet.
[[nodiscard]] QString make(const QByteArray &before, const QByteArray &after, const QString &fromLabel,
                           const QString &toLabel, int context = 3);

} // namespace UnifiedDiff
