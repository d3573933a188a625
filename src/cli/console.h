#pragma once

#include <QJsonObject>
#include <QString>

// How the command line ends, for scripts to tell outcomes apart.
namespace Exit {
inline constexpr int Done = 0;
inline constexpr int Failed = 1;  // failed, or (status) not ready; the reason is on standard error
inline constexpr int Usage = 2;   // the command line was wrong, or a confirmation was needed
inline constexpr int Refused = 3; // left alone to protect the user's data
} // namespace Exit

// The terminal side of the command line: results on standard output, messages on standard error,
// colour only where a person reads it, and the questions destructive commands ask.
class Console
{
public:
    enum class Colour { Green, Yellow, Red, Bold };

    Console();

    void out(const QString &text) const; // a line of results
    void err(const QString &text) const; // a line of messages
    // The document with "schemaVersion" first among its members, indented, on standard output.
    void json(QJsonObject document) const;
    [[nodiscard]] QString paint(const QString &text, Colour colour) const;
    // Yes only for an answer starting with "y" from a terminal; anything else, or no terminal, is no.
    [[nodiscard]] bool confirm(const QString &question) const;
    // Standard input is a terminal that can answer a question.
    [[nodiscard]] bool interactive() const { return m_interactive; }

    static constexpr int SchemaVersion = 1;

private:
    bool m_colour = false;
    bool m_interactive = false;
};
