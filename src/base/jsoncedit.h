#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

// Edits JSON-with-comments settings files (VS Code, GitHub Copilot CLI, Zed, opencode, Gemini CLI,
// Qwen Code) in place.
// Users keep comments in these files, so an edit changes only the bytes of the member it sets or
// removes (and of objects it has to create): comments, key order, indentation, line endings and a
// byte-order mark stay as they were. Accepted beyond strict JSON: `//` and `/* */` comments,
// trailing commas in objects and arrays, a UTF-8 byte-order mark.
namespace JsoncEdit {

struct Parsed
{
    bool ok = false;
    QString error;    // English, with line and column where the text went wrong
    QJsonObject root; // the document, comments and trailing commas dropped
};

// Text holding only whitespace and comments reads as an empty object. With duplicate keys the
// last one wins, as in the clients' own readers.
[[nodiscard]] Parsed parse(const QByteArray &text);

// Sets member `name` of the object reached from the top-level object through `objectPath`
// (several levels allowed), creating missing objects on the way. An existing member (the last one
// when the key is duplicated, the one readers see) keeps its key, comments and separators; only
// its value text is replaced. A new member goes after the last member, indented like its
// siblings, with the document's line ending and indent unit (guessed; four spaces when the text
// has no indented line, as in a new file); an object written on one line stays on one line.
// Text with nothing but whitespace and comments gets a new top-level object. Fails, leaving the
// text unchanged, when the text is not valid JSON with comments, its top level is not an object,
// or a member on the path exists but is not an object (never replaced: it is the user's data).
[[nodiscard]] bool setMember(QByteArray &text, const QStringList &objectPath, const QString &name,
                             const QJsonValue &value, QString *error = nullptr);

// Removes member `name` (every occurrence, so that no shadowed duplicate comes back) with its
// separating comma, and its whole line when it stands alone there. An absent member, an absent
// path or a path member that is not an object: true, text unchanged. Fails, leaving the text
// unchanged, when the text is not valid JSON with comments or its top level is not an object.
[[nodiscard]] bool removeMember(QByteArray &text, const QStringList &objectPath, const QString &name,
                                QString *error = nullptr);

// The text of member `name` (the last occurrence: the one readers see) of the object reached
// through `objectPath`, from its key to the end of its value, comments inside included. Later
// lines lose the indent of the member's own line, so the text reads as if it stood at the top.
// False when the text is not valid JSON with comments or the member is not there.
[[nodiscard]] bool memberText(const QByteArray &text, const QStringList &objectPath, const QString &name,
                              QByteArray *member);

} // namespace JsoncEdit
