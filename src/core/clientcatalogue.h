#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Everything the application knows about each AI client, in one table: how to recognise it, which
// file keeps its MCP servers, in what syntax, what our entry looks like there and how it is
// registered. Clients, the entry reader, the Setup page and the tests read this table; nothing else
// names a client.
namespace ClientCatalogue {

enum class Platform { Windows, MacOS, Linux };

// The syntax of the file that keeps a client's servers.
enum class Syntax {
    Json,  // plain JSON, parsed and written back whole (indented)
    Jsonc, // JSON with comments: only our member's text is edited, every other byte stays
    Toml,  // read only: the client's own tool writes it
};

// How a command-line client's answer to its query is read.
enum class Query {
    None,
    ClaudeText, // "Scope: User config", "Command:", "Args:", "Environment:" lines
    CodexJson,  // a JSON object whose "transport" holds command, args and env
};

// The folders the candidate lists start from, as the platform reports them.
struct Places
{
    QProcessEnvironment env;
    QString home;
    QString data;   // the generic data folder (on Windows the local application data)
    QString config; // the generic configuration folder
};

// The shape of our entry in a client's servers object.
struct EntryShape
{
    bool commandArray = false; // program and arguments together in "command", no "args"
    QString envKey = QStringLiteral("env");
    QJsonObject extras; // fixed members written with the entry
};

// Where our entry sits in a client's file and how it looks there.
struct FileLayout
{
    Syntax syntax = Syntax::Json;
    QStringList serversPath{QStringLiteral("mcpServers")}; // the servers object, from the top level
    EntryShape entry;
};

// The command lines of a client registered through its own tool; the server name "tavrin" is
// part of each. An add continues with "--env", "<variable>=<mode>", "--", "uvx", "tavrin".
struct CliCommands
{
    QStringList add;
    QStringList remove;
    QStringList query;
    Query answer = Query::None;
    bool removeBeforeAdd = false; // the tool refuses to replace an existing entry
    QString absentText;           // output that means "no such entry": a removal that found nothing
    // Detection reads the tool's file rather than asking the tool (whose query is slow or starts
    // the server); the query is the fallback when the file cannot be read.
    bool readFileFirst = false;
};

struct Client
{
    QString id;
    QString name;
    QString iconKey;         // a drawing of the GUI library, by plain name
    QStringList executables; // any of them on the PATH means installed; the first runs CLI commands
    bool usesCli = false;    // registered through its own tool, which edits `file`; else we edit it
    FileLayout file;
    // The candidate files, in order of preference (a folder component may hold a '*' wildcard).
    // For a client with its own tool, the file the tool edits.
    QStringList (*candidates)(Platform, const Places &) = nullptr;
    bool firstExistingFile = false; // a candidate that exists as a file wins over the folder rule
    bool cardWhenAbsent = false;    // the Setup page lists it even when it is not installed
    int startLimitSeconds = 0;      // how long it waits for a server to start, where known
    CliCommands cli;
};

// Every client, in the order of detection and of the Setup page's cards.
[[nodiscard]] const QList<Client> &all();
// The row of an identifier (compared exactly), or null.
[[nodiscard]] const Client *find(const QString &id);
// The candidate files of one client; empty for an unknown identifier. Pure: depends only on the
// arguments, so every platform's list can be checked anywhere.
[[nodiscard]] QStringList candidates(const QString &id, Platform platform, const Places &places);
// The platform and folders this process runs with.
[[nodiscard]] Platform currentPlatform();
[[nodiscard]] Places currentPlaces();
// Where a client's file is now: with firstExistingFile, the first candidate that exists as a file.
// Otherwise, and when none does: the first candidate whose folder exists (wildcards expanded); when
// none does, the first candidate without a wildcard. Empty for an unknown identifier.
[[nodiscard]] QString configPath(const QString &id);
[[nodiscard]] QString resolve(const QStringList &candidates, bool firstExistingFile);
// How a client is registered, for a tool tip: the command line, or empty for file clients.
[[nodiscard]] QString registrationCommand(const Client &client);

} // namespace ClientCatalogue
