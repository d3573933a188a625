#pragma once

#include <QJsonObject>
#include <QString>

// Reads and writes JSON documents that belong to the user (our settings, AI client configs).
// Writes go to a temporary file beside the target that is renamed over it, so a crash, a kill or a
// full disk never leaves a half-written file.
namespace JsonFile {

enum class ReadStatus {
    Ok,         // the file held a JSON object
    Missing,    // no such file
    Unreadable, // exists but cannot be opened for reading
    NotObject,  // readable, but not a JSON object (invalid JSON, comments, an array...)
};

struct ReadResult
{
    ReadStatus status = ReadStatus::Missing;
    QJsonObject object;  // the document when status is Ok, empty otherwise
    QString errorDetail; // parse error or file error text, for messages
};

[[nodiscard]] ReadResult read(const QString &path);

// Creates the parent folders, writes the object indented and replaces the file atomically.
// On failure returns false and leaves an English reason in *error (when given).
[[nodiscard]] bool write(const QString &path, const QJsonObject &object, QString *error = nullptr);

// The same atomic replacement for any content (edited text, backups): the file is either the old
// one or the complete new one, with the old one's permissions. A link is followed, so the file it
// points to is replaced and the link stays. Temporary copies left by an earlier write of the same
// file that was killed are removed first.
[[nodiscard]] bool writeBytes(const QString &path, const QByteArray &bytes, QString *error = nullptr);

} // namespace JsonFile
