#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Everything the application knows about each AI client, in one table: how to recognise it, where
// it keeps its MCP servers, what our entry looks like there and how it is registered. Clients, the
// Setup page and the tests read this table; nothing else names a client.
namespace ClientCatalogue {

enum class Platform { Windows, MacOS, Linux };

enum class Format {
    Json,  // plain JSON, parsed and written back whole (indented)
    Jsonc, // JSON with comments: only our member's text is edited, every other byte stays
    Cli,   // the client's own command-line tool adds and removes the entry
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
};

struct Client
{
    QString id;
    QString name;
    QString iconKey;         // a drawing of the GUI library, by plain name
    QStringList executables; // any of them on the PATH means installed; the first runs CLI commands
    Format format = Format::Json;
    QStringList serversPath; // the servers object, from the top level
    EntryShape entry;
    // The candidate files, in order of preference (a folder component may hold a '*' wildcard).
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
// How a client is registered, for a tool tip: the command line, or empty for file clients.
[[nodiscard]] QString registrationCommand(const Client &client);

} // namespace ClientCatalogue
