#pragma once

#include <QJsonObject>
#include <QString>

// Reads and writes JSON documents that belong to the user (our settings, AI client configs).
// Writes always go through QSaveFile, so a crash or a full disk never leaves a half-written file.
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

// Creates the parent folders, writes the object indented and commits atomically.
// On failure returns false and leaves an English reason in *error (when given).
[[nodiscard]] bool write(const QString &path, const QJsonObject &object, QString *error = nullptr);

// The same atomic replacement for any content (edited text, backups): the file is either the old
// one or the complete new one, with the old one's permissions.
[[nodiscard]] bool writeBytes(const QString &path, const QByteArray &bytes, QString *error = nullptr);

} // namespace JsonFile
