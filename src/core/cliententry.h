#pragma once

#include "core/clientcatalogue.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

// Our "tavrin" entry in a client's configuration file, in the file's own syntax: what a file's
// bytes hold of it (for detection, the backup list and "Show Entry") and the entry as a client
// wants it written (for our edits and "Copy Entry"). The one reader and writer of the entry's shape.
namespace ClientEntry {

// What a file holds of our entry.
struct Reading
{
    bool readable = false; // the bytes are a document in the file's syntax
    bool present = false;  // the servers object has a member named "tavrin", whatever it holds
    bool valid = false;    // ... and that member is an object
    QString command;
    QStringList args;
    QString mode; // the permission mode in its environment; empty when unset
};

[[nodiscard]] Reading read(const QByteArray &bytes, const ClientCatalogue::FileLayout &layout);
// One entry already parsed (a client tool's answer, say), in the given shape.
[[nodiscard]] Reading fromValue(const QJsonValue &value, const ClientCatalogue::EntryShape &shape);

// Our entry for the permission mode, in the shape given.
[[nodiscard]] QJsonObject object(const ClientCatalogue::EntryShape &shape, const QString &mode);
// Our entry for the mode, ready to paste into the client's file: `"tavrin": {...}` in the client's
// own shape, or the TOML tables for a client whose file is TOML.
[[nodiscard]] QString text(const ClientCatalogue::Client &client, const QString &mode);
// A whole file holding only our entry, in the client's syntax: the JSON document with the servers
// object around the entry (`{"mcpServers": {"tavrin": {...}}}`), or the TOML tables.
[[nodiscard]] QString document(const ClientCatalogue::Client &client, const QString &mode);
// The entry's text as the file has it, with *found true; otherwise, with *found false, why there is
// none to show. JSON and JSON with comments only: a TOML file's entry is spread over tables.
[[nodiscard]] QString writtenText(const QByteArray &bytes, const ClientCatalogue::FileLayout &layout, bool *found);

} // namespace ClientEntry
