#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// Reads and edits Godot's config text (project.godot, projects.cfg, plugin.cfg) as Godot's own
// parser does: `;` comments, `[section]` headers, `key=value` where a value may span lines (strings
// keep raw newlines, dictionaries and constructors nest), `#` starting a colour, not a comment, and
// every character at or below 32 counting as whitespace. Godot rewrites project.godot in its own
// shape whenever the editor saves, so an edit here touches only the bytes it must and leaves
// everything else, line endings included, exactly as it was.
class GodotConfigEdit
{
public:
    // Where a value's text sits in the parsed bytes.
    struct Span
    {
        qsizetype begin = 0;
        qsizetype end = 0; // one past the value
    };

    struct Parsed
    {
        bool ok = false;
        QString error;          // "Line 4: unterminated string.", when not ok
        int configVersion = -1; // config_version before the first section; -1 when absent
        QStringList sections;   // in the order of their first header
        QByteArray text;
        // Each setting named as Godot names it ("application/config/name"); the last assignment wins.
        QHash<QByteArray, Span> values;

        [[nodiscard]] bool has(const QString &setting) const;
        // A string value, unescaped; nothing when absent or not a string.
        [[nodiscard]] std::optional<QString> string(const QString &setting) const;
        // A list of strings: PackedStringArray(...), PoolStringArray(...), StringArray(...) or [...].
        [[nodiscard]] std::optional<QStringList> strings(const QString &setting) const;
        [[nodiscard]] std::optional<bool> boolean(const QString &setting) const;
    };

    // Parses the whole text; stops at the first error.
    [[nodiscard]] static Parsed parse(const QByteArray &text);

    // Adds `plugin` (a "res://addons/<name>/plugin.cfg" path) to editor_plugins/enabled, or removes
    // it in either spelling (the path or the bare folder name, which Godot also accepts). The list
    // stays sorted and is written as Godot writes it; a missing [editor_plugins] section is inserted
    // at its alphabetical place with Godot's blank lines, and removed when its list becomes empty.
    // The text comes back unchanged when nothing needs to change; nothing comes back, with the
    // reason in *error, when the text cannot be parsed.
    [[nodiscard]] static std::optional<QByteArray> setPluginEnabled(const QByteArray &text, const QString &plugin,
                                                                    bool enabled, QString *error);

    // Whether a list of enabled plugins names `plugin`, in either spelling.
    [[nodiscard]] static bool lists(const QStringList &enabled, const QString &plugin);
};
