#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QJsonObject>
#include <QString>

// Reads and writes files that belong to the user (our settings, AI client configs, their backups).
// Writes go to a temporary file beside the target that is renamed over it, so a crash, a kill or a
// full disk never leaves a half-written file. Reads take only regular files of a sane size, so a
// FIFO, a device or a huge file put where a config belongs never hangs or floods a reader.
namespace JsonFile {

// No settings file comes near this; a link to /dev/zero or a runaway log must not fill memory.
inline constexpr qint64 MaxReadBytes = qint64(64) << 20;

enum class ReadStatus {
    Ok,         // the file held a JSON object (readBytes: the file was read)
    Missing,    // no such file (nor anything a link points to)
    Unreadable, // exists but cannot be read, or is not a regular file of at most MaxReadBytes
    NotObject,  // readable, but not a JSON object (invalid JSON, comments, an array...)
};

struct ReadResult
{
    ReadStatus status = ReadStatus::Missing;
    QJsonObject object;  // the document when status is Ok, empty otherwise
    QByteArray bytes;    // the file's bytes when it could be read (Ok or NotObject)
    QString errorDetail; // parse error or file error text, for messages
};

[[nodiscard]] ReadResult read(const QString &path);

// The whole file, when it is a regular file (after following links) of at most MaxReadBytes.
// Anything else is refused before a byte is read, with *error (when given) saying what it is
// ("it is a FIFO (named pipe), not a regular file", "it is too large: ..."); a FIFO is never
// opened in a way that waits for a writer. Returns Ok, Missing or Unreadable.
[[nodiscard]] ReadStatus readBytes(const QString &path, QByteArray *bytes, QString *error = nullptr);

// Creates the parent folders, writes the object indented and replaces the file atomically.
// On failure returns false and leaves an English reason in *error (when given).
[[nodiscard]] bool write(const QString &path, const QJsonObject &object, QString *error = nullptr);

// The same atomic replacement for any content (edited text): the file is either the old one or the
// complete new one, with the old one's permissions. A link is followed, so the file it points to is
// replaced and the link stays. Temporary copies left by an earlier write of the same file that was
// killed are removed first.
[[nodiscard]] bool writeBytes(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// writeBytes, but the new file gets `permissions` (a restored backup's) before it takes the name;
// the file it replaces keeps its own mode until it is gone. Owner and group stay the old file's.
[[nodiscard]] bool writeBytesWithMode(const QString &path, const QByteArray &bytes,
                                      QFileDevice::Permissions permissions, QString *error = nullptr);

// Creates `path` with `bytes` and `permissions`, never replacing anything: the bytes are written and
// synced under a temporary name in the same folder, which then takes the final name only if no
// entry has it. So the name, once there, always holds the whole content. When the name is taken,
// returns false with *taken set (and leaves no file of its own), so that the caller can pick
// another. The folder must exist.
[[nodiscard]] bool createNew(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions,
                             bool *taken, QString *error = nullptr);

// Removes the temporary files that killed writes of `path` left (every write does so first), for
// when a file is found to need no write. Writes still in progress are left alone.
void removeLeftoversOf(const QString &path);
// The same for every file in `folder`; for folders that hold only our own files.
void removeLeftovers(const QString &folder);

} // namespace JsonFile
