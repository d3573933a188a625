#include "core/godotconfigedit.h"
#include "testenv.h"

#include <QRandomGenerator>

using TestEnv::row;

namespace {

const QString s_ours = QStringLiteral("res://addons/tavrin_mcp/plugin.cfg");

// project.godot as Godot 4 writes it: the header, then sections separated by one blank line.
const QByteArray s_head = "; Engine configuration file.\n; It's best edited using the editor UI and not directly,\n"
                          "; since the parameters that go here are not all obvious.\n;\n; Format:\n"
                          ";   [section] ; section goes between []\n;   param=value ; assign values to parameters\n"
                          "\nconfig_version=5\n\n";
const QByteArray s_application = "[application]\n\nconfig/name=\"Demo\"\n"
                                 "config/features=PackedStringArray(\"4.3\", \"Forward Plus\")\n"
                                 "config/icon=\"res://icon.svg\"\n";
// Strings with raw newlines, a section header and '=' inside them.
const QByteArray s_tricky = "[application]\n\nconfig/name=\"Demo\"\nconfig/description=\"Line one\n[editor_plugins]\n"
                            "enabled=PackedStringArray(\\\"res://addons/x/plugin.cfg\\\")\"\n";
const QByteArray s_display = "[display]\n\nwindow/size/viewport_width=1280\n"
                             "window/color=#ff8000 ; a colour, then a comment\n";
const QByteArray s_input = "[input]\n\nui_jump={\n\"deadzone\": 0.5,\n"
                           "\"events\": [Object(InputEventKey,\"resource_local_to_scene\":false,\"device\":-1,"
                           "\"keycode\":0,\"physical_keycode\":32,\"unicode\":32,\"echo\":false,\"script\":null)\n"
                           "]\n}\n";
const QByteArray s_rendering = "[rendering]\n\nenvironment/defaults/default_clear_color=Color(0.3, 0.3, 0.3, 1)\n";

QByteArray plugins(const QByteArray &list)
{
    return "[editor_plugins]\n\nenabled=PackedStringArray(" + list + ")\n";
}
const QByteArray s_oursOnly = plugins("\"res://addons/tavrin_mcp/plugin.cfg\"");

QByteArray doc(const QList<QByteArray> &sections)
{
    QByteArray text = s_head;
    for (qsizetype i = 0; i < sections.size(); ++i)
        text += (i ? "\n" : "") + sections.at(i);
    return text;
}

QByteArray crlf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}

QByteArray packed(const QStringList &list)
{
    return list.isEmpty() ? "PackedStringArray()" : "PackedStringArray(\"" + list.join("\", \"").toUtf8() + "\")";
}

} // namespace

class TestGodotConfigEdit : public QObject
{
    Q_OBJECT

private slots:
    void setPluginEnabled_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QByteArray>("expected"); // null: refused
        QTest::addColumn<QString>("error");

        const QByteArray a = "\"res://addons/a/plugin.cfg\"", z = "\"res://addons/zz/plugin.cfg\"",
                         ours = "\"res://addons/tavrin_mcp/plugin.cfg\"";
        const auto row = [](const char *name, const QByteArray &text, bool enabled, const QByteArray &expected) {
            QTest::newRow(name) << text << enabled << expected << QString();
        };
        row("enable: section inserted before [input]", doc({s_application, s_display, s_input, s_rendering}), true,
            doc({s_application, s_display, s_oursOnly, s_input, s_rendering}));
        row("enable: after the last section", doc({s_application, s_display}), true,
            doc({s_application, s_display, s_oursOnly}));
        row("enable: strings hold a header and raw newlines", doc({s_tricky, s_input}), true,
            doc({s_tricky, s_oursOnly, s_input}));
        row("enable: CRLF kept", crlf(doc({s_application, s_input})), true,
            crlf(doc({s_application, s_oursOnly, s_input})));
        row("enable: no trailing newline", "config_version=5\n\n[application]\n\nconfig/name=\"x\"", true,
            "config_version=5\n\n[application]\n\nconfig/name=\"x\"\n\n" + s_oursOnly);
        row("enable: empty file", "", true, s_oursOnly);
        row("enable: comment lines above the next header stay with it",
            doc({s_application, "; key bindings\n" + s_input}), true,
            doc({s_application, s_oursOnly, "; key bindings\n" + s_input}));
        row("enable: added to the list, sorted", doc({s_application, plugins(z + ", " + a), s_input}), true,
            doc({s_application, plugins(a + ", " + ours + ", " + z), s_input}));
        row("enable: Godot 3 names and a trailing comma",
            doc({plugins("").replace("PackedStringArray(", "StringArray(" + a + ",")}), true,
            doc({plugins(a + ", " + ours)}));
        row("enable: a section without the list", doc({s_application, "[editor_plugins]\n", s_input}), true,
            doc({s_application, s_oursOnly, s_input}));
        row("enable: already listed", doc({s_application, plugins(a + ", " + ours), s_input}), true,
            doc({s_application, plugins(a + ", " + ours), s_input}));
        row("enable: listed by its folder name", doc({plugins("\"tavrin_mcp\"")}), true,
            doc({plugins("\"tavrin_mcp\"")}));
        row("disable: ours first", doc({s_application, plugins(ours + ", " + z), s_input}), false,
            doc({s_application, plugins(z), s_input}));
        row("disable: ours in the middle", doc({plugins(a + ", " + ours + ", " + z)}), false,
            doc({plugins(a + ", " + z)}));
        row("disable: ours last", doc({s_application, plugins(a + ", " + ours)}), false,
            doc({s_application, plugins(a)}));
        row("disable: ours only, the section goes", doc({s_application, s_oursOnly, s_input}), false,
            doc({s_application, s_input}));
        row("disable: ours only, last section, CRLF", crlf(doc({s_application, s_oursOnly})), false,
            crlf(doc({s_application})));
        row("disable: the only section", "[editor_plugins]\n\nenabled=PackedStringArray(" + ours + ")", false, "");
        row("disable: both spellings", doc({plugins("\"tavrin_mcp\", " + a + ", " + ours)}), false, doc({plugins(a)}));
        row("disable: other keys of the section stay",
            "[editor_plugins]\n\nenabled=PackedStringArray(" + ours + ") ; ours\nmine=1\n", false,
            "[editor_plugins]\n\nmine=1\n");
        row("disable: Godot 3 list",
            "config_version=4\n\n[editor_plugins]\n\nenabled=PoolStringArray( " + a + ", " + ours + " )\n", false,
            "config_version=4\n\n[editor_plugins]\n\nenabled=PoolStringArray( " + a + " )\n");
        row("disable: not listed", doc({s_application, plugins(a)}), false, doc({s_application, plugins(a)}));
        row("disable: empty file", "", false, "");

        const auto refused = [](const char *name, const QByteArray &text, const QString &error) {
            QTest::newRow(name) << text << true << QByteArray() << error;
        };
        refused("unterminated string", "config_version=5\n\n[application]\n\nconfig/name=\"Demo\n",
                "Line 5: unterminated string.");
        refused("unclosed dictionary", doc({s_application, "[input]\n\nui_jump={\n\"deadzone\": 0.5,\n"}),
                "Line 19: \"{\" is not closed.");
        refused("wrong bracket", "a=[1, 2)\n", "Line 1: unexpected character \")\".");
        refused("a bare word as value", "[application]\n\nconfig/name=Demo\n",
                "Line 3: unexpected identifier \"Demo\".");
        refused("unclosed header", "config_version=5\n\n[application\n",
                "Line 3: the section header is not closed with ']'.");
        refused("the list is no list", "[editor_plugins]\n\nenabled=5\n",
                "Line 3: the list of enabled plugins is not a list of strings.");
        refused("a key with no value at the end", "config_version=5\n\nstray",
                "Line 3: the text ends with a key that has no value.");
    }
    void setPluginEnabled()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, enabled);
        QFETCH(QByteArray, expected);
        QString error;
        const std::optional<QByteArray> result = GodotConfigEdit::setPluginEnabled(text, s_ours, enabled, &error);
        QTEST(error, "error");
        QCOMPARE(result.has_value(), !expected.isNull());
        if (!result)
            return;
        QCOMPARE(*result, expected);
        // Godot's reading of the result lists the plugin exactly when asked to.
        const GodotConfigEdit::Parsed parsed = GodotConfigEdit::parse(*result);
        QVERIFY2(parsed.ok, qPrintable(parsed.error));
        QCOMPARE(GodotConfigEdit::lists(parsed.strings("editor_plugins/enabled").value_or(QStringList()), s_ours),
                 enabled);
    }

    // Godot's parser rules: only what a value really holds is read as such.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("configVersion");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("enabled");
        QTest::addColumn<QStringList>("sections");
        using L = QStringList;
        row("Godot 4", doc({s_application, s_display, s_oursOnly, s_input}), 5, "Demo", L{s_ours},
            L{"application", "display", "editor_plugins", "input"});
        row("header inside a string", doc({s_tricky}), 5, "Demo", L(), L{"application"});
        row("CRLF, BOM, spaces around =",
            QByteArray("\xEF\xBB\xBF"
                       "config_version = 4\r\n[application]\r\nconfig/name = \"A \\\"B\\\" \\u00e9\\t\"\r\n"),
            4, "A \"B\" \u00e9\t", L(), L{"application"});
        row("quoted key, several per line, last wins",
            QByteArray("[application] \"config/name\"=\"x\" config/name=\"y\" ; \"config/name\"=\"z\"\n"), -1, "y", L(),
            L{"application"});
        row("Godot 3 list, escaped header",
            QByteArray(
                "config_version=4\n[a\\]b]\n[editor_plugins]\nenabled=PoolStringArray( \"x\", \"tavrin_mcp\" )\n"),
            4, "", L{"x", "tavrin_mcp"}, L{"a\\]b", "editor_plugins"});
        row("empty", QByteArray(), -1, "", L(), L());
    }
    void parse()
    {
        QFETCH(QByteArray, text);
        const GodotConfigEdit::Parsed parsed = GodotConfigEdit::parse(text);
        QVERIFY2(parsed.ok, qPrintable(parsed.error));
        QTEST(parsed.configVersion, "configVersion");
        QTEST(parsed.string("application/config/name").value_or(QString()), "name");
        QTEST(parsed.strings("editor_plugins/enabled").value_or(QStringList()), "enabled");
        QTEST(parsed.sections, "sections");
    }

    // Generated documents: the edit changes the list's value, or inserts or removes the whole
    // section, and not one byte more; the result reads back with exactly the expected plugins.
    void randomDocuments()
    {
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        const auto pick = [&random](const QList<QByteArray> &from) { return from.at(random.bounded(from.size())); };
        const QList<QByteArray> values{
            "\"plain\"",
            "\"with \\\"quotes\\\" and \\\\ backslash\"",
            "42",
            "-1.5e-3",
            "true",
            "#ff8000",
            "null",
            "\"[editor_plugins]\nenabled=PackedStringArray(\\\"res://addons/tavrin_mcp/plugin.cfg\\\")\"",
            "\"a ; not a comment = # nor this\"",
            "Color(0.3, 0.3, 0.3, 1)",
            "Vector2i(1280, 720)",
            "&\"name\"",
            "PackedStringArray(\"4.3\", \"Forward Plus\")",
            "^\"Path/To\"",
            "[1, 2, 3]",
            "{}",
            s_input.mid(s_input.indexOf('{')).trimmed()};
        const QList<QByteArray> keys{"config/name", "window/size/viewport_width", "ui_jump", "\"key with spaces\""};
        const QStringList pool{"res://addons/a/plugin.cfg", s_ours, "tavrin_mcp", "res://addons/zz/plugin.cfg",
                               "res://addons/m/plugin.cfg"};
        const QStringList names{"application", "autoload", "display", "editor_plugins", "input", "rendering"};

        for (int round = 0; round < 400; ++round) {
            const QByteArray eol = random.bounded(3) == 0 ? "\r\n" : "\n";
            const bool enable = random.bounded(2) == 0;
            QList<QByteArray> sections;
            qsizetype pluginsIndex = -1, insertIndex = -1;
            QStringList listed;
            QByteArray listText, prefix;
            for (const QString &name : names) {
                if (random.bounded(10) < (name == "editor_plugins" ? 6 : 5))
                    continue;
                if (insertIndex < 0 && name > "editor_plugins")
                    insertIndex = sections.size();
                QByteArray section = "[" + name.toUtf8() + "]\n\n";
                if (name == "editor_plugins") {
                    for (const QString &entry : pool) {
                        if (random.bounded(2))
                            listed << entry;
                    }
                    listText = packed(listed);
                    pluginsIndex = sections.size();
                    section += "enabled=" + listText + "\n";
                } else {
                    for (int i = random.bounded(1, 4); i > 0; --i)
                        section += pick(keys) + "=" + pick(values) + (random.bounded(4) ? "" : " ; note") + "\n";
                }
                sections << section.replace("\n", eol);
            }
            if (random.bounded(2))
                prefix = QByteArray(s_head).replace("\n", eol);
            const bool trailingNewline = random.bounded(4) != 0;
            const auto build = [&](const QList<QByteArray> &parts, bool lastNewline) {
                QByteArray text = prefix;
                for (qsizetype i = 0; i < parts.size(); ++i)
                    text += (i ? eol : "") + parts.at(i);
                if (!lastNewline && text.endsWith(eol))
                    text.chop(eol.size());
                return text;
            };
            const QByteArray text = build(sections, trailingNewline);

            QStringList expected = listed;
            const bool wasListed = listed.contains(s_ours) || listed.contains("tavrin_mcp");
            if (enable && !wasListed)
                expected << s_ours;
            if (!enable)
                expected.removeIf([](const QString &entry) { return entry == s_ours || entry == "tavrin_mcp"; });
            std::sort(expected.begin(), expected.end());

            QByteArray want = text;
            if (enable != wasListed && pluginsIndex >= 0 && !expected.isEmpty()) {
                QList<QByteArray> changed = sections;
                changed[pluginsIndex].replace(listText, packed(expected));
                want = build(changed, trailingNewline);
            } else if (enable != wasListed && pluginsIndex >= 0) {
                QList<QByteArray> without = sections;
                without.removeAt(pluginsIndex);
                const bool last = pluginsIndex == sections.size() - 1;
                want = build(without, trailingNewline || last);
                // Removed from the end, it takes the blank lines before it along.
                while (last && want.endsWith(eol + eol))
                    want.chop(eol.size());
            } else if (enable != wasListed) {
                // Text without a line has no line ending to keep: Godot's own.
                const QByteArray block = QByteArray(s_oursOnly).replace("\n", text.contains('\n') ? eol : "\n");
                if (insertIndex >= 0) {
                    QList<QByteArray> with = sections;
                    with.insert(insertIndex, block);
                    want = build(with, trailingNewline);
                } else {
                    QByteArray base = text;
                    if (!base.isEmpty() && !base.endsWith('\n'))
                        base += eol;
                    if (!base.isEmpty() && !base.endsWith(eol + eol))
                        base += eol;
                    want = base + block;
                }
            }

            QString error;
            const std::optional<QByteArray> result = GodotConfigEdit::setPluginEnabled(text, s_ours, enable, &error);
            const QByteArray context = "seed " + QByteArray::number(seed) + ", round " + QByteArray::number(round) +
                                       ":\n" + text + "\n--- error: " + error.toUtf8();
            QVERIFY2(result, context.constData());
            QVERIFY2(*result == want, (context + "\n--- got:\n" + *result + "\n--- want:\n" + want).constData());
            QStringList reread =
                GodotConfigEdit::parse(*result).strings("editor_plugins/enabled").value_or(QStringList());
            std::sort(reread.begin(), reread.end());
            QVERIFY2(reread == expected, context.constData());
        }
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestGodotConfigEdit)
#include "tst_godotconfigedit.moc"
