#include "core/cliententry.h"

#include "base/jsoncedit.h"
#include "base/tomlreader.h"
#include "core/mcpserver.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

using ClientCatalogue::EntryShape;
using ClientCatalogue::FileLayout;
using ClientCatalogue::Syntax;

namespace ClientEntry {

namespace {

QStringList strings(const QJsonArray &array)
{
    QStringList list;
    for (const QJsonValue value : array)
        list << value.toString();
    return list;
}

bool parse(const QByteArray &bytes, Syntax syntax, QJsonObject *document, QString *error = nullptr)
{
    switch (syntax) {
    case Syntax::Toml:
        return TomlReader::parse(bytes, document, error);
    case Syntax::Jsonc: {
        // The same reader the edits go through, so what we read is what an edit would see.
        const JsoncEdit::Parsed parsed = JsoncEdit::parse(bytes);
        *document = parsed.root;
        if (error)
            *error = parsed.error;
        return parsed.ok;
    }
    case Syntax::Json:
        break;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    *document = doc.object();
    if (error)
        *error = parseError.errorString();
    return parseError.error == QJsonParseError::NoError && doc.isObject();
}

} // namespace

Reading read(const QByteArray &bytes, const FileLayout &layout)
{
    QJsonObject document;
    Reading reading;
    if (!parse(bytes, layout.syntax, &document))
        return reading;
    // A servers member that is missing, null or not an object holds no entry of ours.
    QJsonObject servers = document;
    for (const QString &key : layout.serversPath)
        servers = servers.value(key).toObject();
    if (!servers.contains(McpServer::name())) {
        reading.readable = true;
        return reading;
    }
    reading = fromValue(servers.value(McpServer::name()), layout.entry);
    reading.readable = true;
    return reading;
}

Reading fromValue(const QJsonValue &value, const EntryShape &shape)
{
    Reading reading;
    reading.readable = reading.present = true;
    if (!value.isObject())
        return reading;
    reading.valid = true;
    const QJsonObject object = value.toObject();
    if (shape.commandArray) {
        const QStringList words = strings(object.value(QLatin1String("command")).toArray());
        reading.command = words.value(0);
        reading.args = words.mid(1);
    } else {
        reading.command = object.value(QLatin1String("command")).toString();
        reading.args = strings(object.value(QLatin1String("args")).toArray());
    }
    reading.mode = object.value(shape.envKey).toObject().value(McpServer::modeVariable()).toString();
    return reading;
}

QJsonObject object(const EntryShape &shape, const QString &mode)
{
    QJsonObject entry = shape.extras;
    if (shape.commandArray) {
        entry.insert(QLatin1String("command"), QJsonArray{McpServer::program(), McpServer::name()});
    } else {
        entry.insert(QLatin1String("command"), McpServer::program());
        entry.insert(QLatin1String("args"), QJsonArray{McpServer::name()});
    }
    entry.insert(shape.envKey, QJsonObject{{McpServer::modeVariable(), mode}});
    return entry;
}

QString text(const ClientCatalogue::Client &client, const QString &mode)
{
    const FileLayout &layout = client.file;
    if (layout.syntax == Syntax::Toml) {
        // Modes, names and the program are plain words: nothing to escape.
        const QString table = layout.serversPath.join(QLatin1Char('.')) + QLatin1Char('.') + McpServer::name();
        return QStringLiteral("[%1]\ncommand = \"%2\"\nargs = [\"%3\"]\n\n[%1.%4]\n%5 = \"%6\"\n")
            .arg(table, McpServer::program(), McpServer::name(), layout.entry.envKey, McpServer::modeVariable(), mode);
    }
    // The member inside its object, taken out and shifted left by the one level of indent.
    const QJsonObject wrapped{{McpServer::name(), object(layout.entry, mode)}};
    QStringList lines = QString::fromUtf8(QJsonDocument(wrapped).toJson(QJsonDocument::Indented)).split('\n');
    lines = lines.mid(1, lines.size() - 3);
    for (QString &line : lines)
        line.remove(0, 4);
    return lines.join(QLatin1Char('\n'));
}

QString document(const ClientCatalogue::Client &client, const QString &mode)
{
    const FileLayout &layout = client.file;
    if (layout.syntax == Syntax::Toml)
        return text(client, mode); // its tables are a whole document already
    QJsonObject nested{{McpServer::name(), object(layout.entry, mode)}};
    for (auto key = layout.serversPath.crbegin(); key != layout.serversPath.crend(); ++key)
        nested = QJsonObject{{*key, nested}};
    return QString::fromUtf8(QJsonDocument(nested).toJson(QJsonDocument::Indented));
}

QString writtenText(const QByteArray &bytes, const FileLayout &layout, bool *found)
{
    *found = false;
    if (layout.syntax == Syntax::Toml)
        return QCoreApplication::translate("ClientEntry", "The entry's text is shown for JSON files only.");
    QByteArray member;
    if (JsoncEdit::memberText(bytes, layout.serversPath, McpServer::name(), &member)) {
        *found = true;
        return QString::fromUtf8(member).replace(QLatin1String("\r\n"), QLatin1String("\n"));
    }
    QJsonObject document;
    QString error;
    // Read leniently here: the text is what matters, not the dialect.
    if (!parse(bytes, Syntax::Jsonc, &document, &error))
        return QCoreApplication::translate("ClientEntry", "The file is not readable as JSON: %1").arg(error);
    return QCoreApplication::translate("ClientEntry", "The file holds no \"%1\" entry.").arg(McpServer::name());
}

} // namespace ClientEntry
