#include "base/jsoncedit.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <functional>

namespace {

QJsonValue json(const QByteArray &text)
{
    return QJsonDocument::fromJson('[' + text + ']').array().at(0);
}

const QStringList s_servers{QStringLiteral("mcpServers")};
const QByteArray s_entry = R"({"command": "uvx"})";

// Rows of the editing tests; the path defaults to the servers object or the top level.
void setRow(const char *name, const QByteArray &text, const QByteArray &expected, const QStringList &path = s_servers,
            const QByteArray &value = s_entry)
{
    QTest::newRow(name) << text << path << value << expected;
}
// Rows of removeMember and memberText.
void textRow(const char *name, const QByteArray &text, const QByteArray &expected, const QStringList &path = {})
{
    QTest::newRow(name) << text << path << expected;
}
void refusedRow(const char *name, const QByteArray &text, const QString &error, bool valid = false,
                const QStringList &path = s_servers)
{
    QTest::newRow(name) << text << path << error << valid;
}

// Tokens of a JSONC text without whitespace: strings, comments, punctuation and bare words, so
// that two texts can be compared for everything except layout.
QList<QByteArray> tokens(const QByteArray &t)
{
    static const QRegularExpression s_token(
        R"re("(?:[^"\\]|\\.)*"|//[^\n]*|/\*.*?\*/|[{}\[\]:,]|[^ \t\r\n{}\[\]:,/]+)re",
        QRegularExpression::DotMatchesEverythingOption);
    QList<QByteArray> list;
    for (const QRegularExpressionMatch &match :
         s_token.globalMatch(QString::fromUtf8(t.mid(t.startsWith("\xEF\xBB\xBF") ? 3 : 0))))
        list.append(match.captured().toUtf8().trimmed());
    return list;
}

bool isComment(const QByteArray &token)
{
    return token.startsWith("//") || token.startsWith("/*");
}

// Drops every member named `key` from a token list (key, comments up to and within the value),
// then all commas, which may move in an edit.
QList<QByteArray> withoutMember(QList<QByteArray> t, const QByteArray &key)
{
    for (qsizetype i = 0; i < t.size();) {
        qsizetype j = i + 1;
        while (j < t.size() && isComment(t.at(j)))
            ++j;
        if (t.at(i) != key || j >= t.size() || t.at(j) != ":") {
            ++i;
            continue;
        }
        for (++j; isComment(t.at(j));)
            ++j;
        for (int depth = 0;;) {
            depth += (t.at(j) == "{" || t.at(j) == "[") - (t.at(j) == "}" || t.at(j) == "]");
            ++j;
            if (depth == 0)
                break;
        }
        t.remove(i, j - i);
    }
    t.removeAll(",");
    return t;
}

qsizetype commonPrefix(const QByteArray &a, const QByteArray &b)
{
    return std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
}

qsizetype commonSuffix(const QByteArray &a, const QByteArray &b)
{
    return std::mismatch(a.rbegin(), a.rend(), b.rbegin(), b.rend()).first - a.rbegin();
}

// Random JSONC documents: {... "mcp": {... "servers": {... "tavrin": ...}}} with any of those
// levels missing, random members around them, comments and odd spacing between all tokens,
// trailing commas, duplicate keys, LF or CRLF, tabs or spaces, sometimes a BOM or a single line.
// The document's value and the positions the checks need are recorded while writing.
class Generator
{
public:
    QByteArray text;
    QJsonObject root;
    int levels = 0;            // how many of "mcp", "servers" exist
    qsizetype open[3] = {};    // '{' of the top-level, "mcp" and "servers" objects
    qsizetype close[3] = {};   // their '}'
    qsizetype valueStart = -1; // the last "tavrin" value
    qsizetype valueEnd = -1;
    int ours = 0; // occurrences of "tavrin"

    explicit Generator(quint32 seed) : m_random(seed)
    {
        m_oneLine = m_random.bounded(8) == 0;
        m_eol = m_random.bounded(3) == 0 ? "\r\n" : "\n";
        m_unit = QList<QByteArray>{"  ", "    ", "\t", "   "}.at(m_random.bounded(4));
        levels = m_random.bounded(3);
        if (m_random.bounded(6) == 0)
            text += "\xEF\xBB\xBF";
        trivia(0);
        root = object(0, 3, true).toObject();
        trivia(0);
        if (!m_oneLine && m_random.bounded(2))
            text += m_eol;
    }

    QJsonValue value(int level, int depth)
    {
        // Scalars as written (Qt's reader gives their values): strings with comment markers, braces and
        // escapes, numbers, literals.
        static const QList<QByteArray> s_strings{
            R"("plain")",       "\"// not /* a comment */\"", R"("{\"x\": [1, 2]}, ")",
            R"("tab\there\\")", R"("\u00e9\ud83d\ude00 é")",  R"("")"};
        static const QList<QByteArray> s_others{"0",         "-17",  "3.25",  "1e3", "-0.5E-2",
                                                "123456789", "true", "false", "null"};
        const int pick = m_random.bounded(depth > 0 ? 8 : 6);
        if (pick == 7)
            return array(level + 1, depth - 1);
        if (pick >= 5)
            return object(level + 1, depth - 1, false);
        const auto &list = pick == 0 ? s_strings : s_others;
        const QByteArray &scalar = list.at(m_random.bounded(int(list.size())));
        text += scalar;
        return json(scalar);
    }

private:
    void newline(int level)
    {
        text += m_eol;
        for (int i = 0; i < level; ++i)
            text += m_unit;
    }

    // Nothing, blanks, comments or line breaks; no line break in a one-line document.
    void trivia(int level)
    {
        static const QList<QByteArray> s_blocks{"/* c */", "/* { \"x\": 1, } // */", "/*/ odd */", "/**/"};
        const int pick = m_random.bounded(m_oneLine ? 5 : 12);
        if (pick == 0 || pick == 2)
            text += pick == 0 ? " " : " \t ";
        else if (pick == 1)
            text += s_blocks.at(m_random.bounded(int(s_blocks.size())));
        else if (pick == 8)
            text += " // note, with \"quotes\" and /* */";
        else if (pick == 9)
            newline(level), text += "/* several" + m_eol + " * lines */";
        if (pick >= 5 && pick <= 9)
            newline(level);
    }

    void key(int level, const QByteArray &name)
    {
        trivia(level);
        text += name;
        trivia(level);
        text += ':';
        trivia(level);
    }

    void separator(int level, bool last)
    {
        trivia(level);
        if (!last || m_random.bounded(4) == 0)
            text += ',';
    }

    // At `pathLevel` >= 0 the object is the top-level, "mcp" or "servers" one: it gets the next
    // path member (or our member) among its random ones.
    QJsonValue object(int level, int depth, bool path, int pathLevel = 0)
    {
        static const QList<QByteArray> s_keys{R"("alpha")",         R"("beta")", R"("with space")", R"("q\"uote")",
                                              R"("\u00e9t\u00e9")", "\"x/*y\"",  R"("k//z")"};
        QJsonObject result;
        if (path)
            open[pathLevel] = text.size();
        text += '{';
        int needed = 0; // members this object must hold besides random ones
        if (path && pathLevel < levels) {
            needed = 1;
        } else if (path && pathLevel == 2) {
            ours = m_random.bounded(4) % 3;
            needed = ours;
        }
        const int count = m_random.bounded(depth > 0 ? 4 : 1) + needed;
        QList<bool> isNeeded(count, false);
        std::fill_n(isNeeded.begin(), needed, true);
        std::shuffle(isNeeded.begin(), isNeeded.end(), m_random);
        for (int i = 0; i < count; ++i) {
            if (isNeeded.at(i) && pathLevel < levels) {
                const QByteArray name = pathLevel == 0 ? "\"mcp\"" : "\"servers\"";
                key(level + 1, name);
                result.insert(QString::fromLatin1(name.mid(1, name.size() - 2)),
                              object(level + 1, depth - 1, true, pathLevel + 1));
            } else if (isNeeded.at(i)) {
                key(level + 1, "\"tavrin\"");
                valueStart = text.size();
                result.insert(QStringLiteral("tavrin"), value(level + 1, 1));
                valueEnd = text.size();
            } else {
                const QByteArray &k = s_keys.at(m_random.bounded(int(s_keys.size())));
                key(level + 1, k);
                result.insert(json(k).toString(), value(level + 1, std::max(depth - 1, 0)));
            }
            separator(level + 1, i == count - 1);
        }
        trivia(level);
        if (path)
            close[pathLevel] = text.size();
        text += '}';
        return result;
    }

    QJsonValue array(int level, int depth)
    {
        QJsonArray result;
        text += '[';
        const int count = m_random.bounded(4);
        for (int i = 0; i < count; ++i) {
            trivia(level + 1);
            result.append(value(level + 1, depth));
            separator(level + 1, i == count - 1);
        }
        trivia(level);
        text += ']';
        return result;
    }

    QRandomGenerator m_random;
    bool m_oneLine = false;
    QByteArray m_eol;
    QByteArray m_unit;
};

QJsonObject withEntry(QJsonObject root, const std::function<void(QJsonObject &)> &change)
{
    QJsonObject mcp = root.value(QLatin1String("mcp")).toObject();
    QJsonObject servers = mcp.value(QLatin1String("servers")).toObject();
    change(servers);
    mcp.insert(QLatin1String("servers"), servers);
    root.insert(QLatin1String("mcp"), mcp);
    return root;
}

} // namespace

class TestJsoncEdit : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expected");
        using TestEnv::row;
        row("comments, trailing commas, BOM",
            QByteArray("\xEF\xBB\xBF// c\n{\"a\": [1, 2,], /* x */ \"b\": {\"c\": \"// no\",},}"),
            QByteArray("{\"a\":[1,2],\"b\":{\"c\":\"// no\"}}"));
        row("duplicate keys: the last wins", QByteArray(R"({"a": 1, "a": {"b": 2}})"), QByteArray(R"({"a":{"b":2}})"));
        row("escapes", QByteArray(R"({"k\u00e9y": "\ud83d\ude00\n"})"),
            QByteArray("{\"kéy\":\"\xF0\x9F\x98\x80\\n\"}"));
        row("comment opening with /*/", QByteArray("/*/ {} */ {}"), QByteArray("{}"));
        row("empty text", QByteArray(""), QByteArray("{}"));
        row("comments only", QByteArray(" // nothing\r\n/* yet */"), QByteArray("{}"));
        row("line comment ended by a lone CR", QByteArray("{\"a\": 1, // one\r\"b\": 2}"),
            QByteArray(R"({"a":1,"b":2})"));
    }
    void parse()
    {
        QFETCH(QByteArray, text);
        const JsoncEdit::Parsed parsed = JsoncEdit::parse(text);
        QVERIFY2(parsed.ok, qPrintable(parsed.error));
        QTEST(QJsonDocument(parsed.root).toJson(QJsonDocument::Compact), "expected");
    }

    void setMember_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray created = "{\n    \"mcpServers\": {\n        \"tavrin\": {\n            \"command\": \"uvx\"\n"
                                   "        }\n    }\n}";
        setRow("empty file", QByteArray(), created + '\n');
        setRow("comments only", "// mine\n", "// mine\n" + created + '\n');
        setRow("{} after a BOM, no final newline", "\xEF\xBB\xBF{}", "\xEF\xBB\xBF" + created);
        setRow("empty servers object on one line", "{\n  \"theme\": \"dark\",\n  \"mcpServers\": {}\n}\n",
               "{\n  \"theme\": \"dark\",\n  \"mcpServers\": {\n    \"tavrin\": {\n      \"command\": \"uvx\"\n"
               "    }\n  }\n}\n");
        setRow("empty servers object with a heading comment, tabs",
               "{\n\t\"mcpServers\": {\n\t\t// add servers below\n\t}\n}",
               "{\n\t\"mcpServers\": {\n\t\t// add servers below\n\t\t\"tavrin\": {\n\t\t\t\"command\": \"uvx\"\n"
               "\t\t}\n\t}\n}");
        setRow("comment on the sibling's line",
               "{\n  \"mcpServers\": {\n    \"other\": {\"command\": \"x\"} // keep me\n  }\n}\n",
               "{\n  \"mcpServers\": {\n    \"other\": {\"command\": \"x\"}, // keep me\n    \"tavrin\": {\n"
               "      \"command\": \"uvx\"\n    }\n  }\n}\n");
        setRow("after a trailing comma, before a closing comment",
               "{\n    \"mcpServers\": {\n        \"other\": {\n            \"command\": \"x\",\n        },\n"
               "        // \"old\": {}\n    },\n}\n",
               "{\n    \"mcpServers\": {\n        \"other\": {\n            \"command\": \"x\",\n        },\n"
               "        \"tavrin\": {\n            \"command\": \"uvx\"\n        },\n        // \"old\": {}\n    "
               "},\n}\n");
        setRow("ours present among comments, CRLF",
               "{\r\n  // servers\r\n  \"mcpServers\": {\r\n    /* ours */ \"tavrin\": {\"command\": \"old\"}, // "
               "keep\r\n    \"b\": 1\r\n  }\r\n}\r\n",
               "{\r\n  // servers\r\n  \"mcpServers\": {\r\n    /* ours */ \"tavrin\": {\r\n      \"command\": "
               "\"uvx\"\r\n    }, // keep\r\n    \"b\": 1\r\n  }\r\n}\r\n");
        setRow("duplicate keys: the last is edited", "{\n  \"tavrin\": 1,\n  \"tavrin\": 2\n}",
               "{\n  \"tavrin\": 1,\n  \"tavrin\": true\n}", QStringList(), "true");
        // A byte-order mark, raw or escaped, makes another key, which stays as the user wrote it.
        setRow("keys that start with a BOM are not ours", "{\n  \"\xEF\xBB\xBFtavrin\": 1,\n  \"\\ufefftavrin\": 2\n}",
               "{\n  \"\xEF\xBB\xBFtavrin\": 1,\n  \"\\ufefftavrin\": 2,\n  \"tavrin\": true\n}", QStringList(),
               "true");
        // As in VS Code: the comment ends at the CR, so the servers object after it is the one edited.
        setRow("line comments ended by a lone CR", "{\r  \"mcpServers\": { // list\r    \"a\": 1\r  }\r}",
               "{\r  \"mcpServers\": { // list\r    \"a\": 1, \"tavrin\": true\r  }\r}", s_servers, "true");
        setRow("our key written with an escape", "{\n  \"tavr\\u0069n\": 1\n}",
               "{\n  \"tavr\\u0069n\": \"\\\"é\\\" // not /*\"\n}", QStringList(), "\"\\\"é\\\" // not /*\"");
        setRow("servers object missing, trailing comma and comment", "{\n    \"editor.fontSize\": 14, // big\n}",
               "{\n    \"editor.fontSize\": 14, // big\n    \"mcpServers\": {\n        \"tavrin\": {\n"
               "            \"command\": \"uvx\"\n        }\n    },\n}");
        setRow("tricky strings before an empty servers object",
               "{\n  \"a\": \"// no /* no */ {\\\"}\",\n  \"b\\\"{\": \"\\u00e9\\\\\",\n  \"mcpServers\": "
               "{\n  }\n}",
               "{\n  \"a\": \"// no /* no */ {\\\"}\",\n  \"b\\\"{\": \"\\u00e9\\\\\",\n  \"mcpServers\": {\n"
               "    \"tavrin\": {\n      \"command\": \"uvx\"\n    }\n  }\n}");
        setRow("one-line document stays on one line", R"({"a": 1, "b": [true, null]})",
               R"({"a": 1, "b": [true, null], "mcpServers": {"tavrin": {"command": "uvx"}}})");
        setRow("one-line servers object with a trailing comma", "{\n    \"mcpServers\": { \"x\": {}, }\n}",
               "{\n    \"mcpServers\": { \"x\": {}, \"tavrin\": {\"command\": \"uvx\"}, }\n}");
        setRow("closing brace on the last member's line", "{\n    \"mcpServers\": {\n        \"x\": 1 }\n}",
               "{\n    \"mcpServers\": {\n        \"x\": 1,\n        \"tavrin\": {\n            \"command\": "
               "\"uvx\"\n        } }\n}");
        setRow("sibling indent from the last member that begins a line",
               "{\n  \"mcpServers\": {\n    \"a\": [1,\n          2], \"b\": 3\n  }\n}",
               "{\n  \"mcpServers\": {\n    \"a\": [1,\n          2], \"b\": 3,\n    \"tavrin\": true\n  }\n}",
               s_servers, "true");
        setRow("two levels, one created", "{\n    \"mcp\": {\n        \"other\": true\n    }\n}",
               "{\n    \"mcp\": {\n        \"other\": true,\n        \"servers\": {\n            \"tavrin\": {\n"
               "                \"command\": \"uvx\"\n            }\n        }\n    }\n}",
               QStringList{QStringLiteral("mcp"), QStringLiteral("servers")});
        setRow("nested arrays in tabs", "{\n\t\"mcpServers\": {\n\t\t\"x\": 1\n\t}\n}",
               "{\n\t\"mcpServers\": {\n\t\t\"x\": 1,\n\t\t\"tavrin\": {\n\t\t\t\"args\": [\n\t\t\t\t\"a\",\n"
               "\t\t\t\t[\n\t\t\t\t\t\"b\",\n\t\t\t\t\t2.5\n\t\t\t\t]\n\t\t\t],\n\t\t\t\"env\": {},\n"
               "\t\t\t\"on\": false\n\t\t}\n\t}\n}",
               s_servers, R"({"args": ["a", ["b", 2.5]], "env": {}, "on": false})");
    }
    void setMember()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, path);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, expected);
        QString error;
        QVERIFY2(JsoncEdit::setMember(text, path, QStringLiteral("tavrin"), json(value), &error), qPrintable(error));
        QCOMPARE(text, expected);
        QVERIFY(JsoncEdit::parse(text).ok);
    }

    void removeMember_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<QByteArray>("expected");
        textRow("last member, its lines and the comma before",
                "{\n    \"mcpServers\": {\n        \"a\": 1,\n        \"tavrin\": {\n            "
                "\"command\": \"uvx\"\n"
                "        }\n    }\n}\n",
                "{\n    \"mcpServers\": {\n        \"a\": 1\n    }\n}\n", s_servers);
        textRow("first member with its comma, CRLF", "{\r\n  \"tavrin\": 1,\r\n  \"b\": 2\r\n}",
                "{\r\n  \"b\": 2\r\n}");
        textRow("only member: the object closes up", "{\n  \"mcpServers\": {\n    \"tavrin\": {}\n  }\n}",
                "{\n  \"mcpServers\": {}\n}", s_servers);
        textRow("comments before and after stay",
                "{\n  \"mcpServers\": {\n    // ours:\n    \"tavrin\": 1, // managed\n    \"b\": 2\n  }\n}",
                "{\n  \"mcpServers\": {\n    // ours:\n    // managed\n    \"b\": 2\n  }\n}", s_servers);
        textRow("comment between the value and its comma stays", "{\n  \"tavrin\": 1 /* why */ ,\n  \"b\": 2\n}",
                "{\n  /* why */ \n  \"b\": 2\n}");
        textRow("comment after the last member stays", "{\n  \"a\": 1,\n  \"tavrin\": 2\n  // end\n}",
                "{\n  \"a\": 1\n  // end\n}");
        textRow("trailing comma stays with the previous member", "{\n  \"a\": 1,\n  \"tavrin\": 2,\n}",
                "{\n  \"a\": 1,\n}");
        textRow("one line, last", R"({"a": 1, "tavrin": 2})", R"({"a": 1})");
        textRow("one line, first", R"({"tavrin": [2], "a": 1})", R"({"a": 1})");
        textRow("one line, only", R"({ "tavrin": 2 })", "{}");
        textRow("every duplicate goes", "{\n  \"tavrin\": 1,\n  \"a\": 2,\n  \"tavr\\u0069n\": 3\n}",
                "{\n  \"a\": 2\n}");
        textRow("absent member", "{\"mcpServers\": {\"a\": 1}} // x", "{\"mcpServers\": {\"a\": 1}} // x", s_servers);
        textRow("absent path", "{\"tavrin\": 1}", "{\"tavrin\": 1}", s_servers);
        textRow("empty text", "\n", "\n", s_servers);
    }
    void removeMember()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, path);
        QFETCH(QByteArray, expected);
        QString error;
        QVERIFY2(JsoncEdit::removeMember(text, path, QStringLiteral("tavrin"), &error), qPrintable(error));
        QCOMPARE(text, expected);
    }

    void memberText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<QByteArray>("expected"); // null: not found
        textRow("nested, dedented, comments kept",
                "{\n  \"mcpServers\": {\n    \"a\": 1,\n    \"tavrin\": { // ours\n      \"command\": "
                "\"uvx\",\n    },\n  }\n}",
                "\"tavrin\": { // ours\n  \"command\": \"uvx\",\n}", s_servers);
        textRow("one line, CRLF around", "{\r\n\t\"tavrin\": [1, 2] ,\r\n\t\"b\": 2\r\n}", "\"tavrin\": [1, 2]");
        textRow("the last duplicate", R"({"tavrin": 1, "tavr\u0069n": 2})", R"("tavr\u0069n": 2)");
        textRow("absent", R"({"mcpServers": {"a": 1}})", QByteArray(), s_servers);
        textRow("path not an object", R"({"mcpServers": ["tavrin"]})", QByteArray(), s_servers);
        textRow("broken", R"({"tavrin": 1)", QByteArray());
        textRow("top not an object", "[]", QByteArray());
    }
    void memberText()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, path);
        QFETCH(QByteArray, expected);
        QByteArray member = "stale";
        QCOMPARE(JsoncEdit::memberText(text, path, QStringLiteral("tavrin"), &member), !expected.isNull());
        if (!expected.isNull())
            QCOMPARE(member, expected);
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("path");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("valid"); // parses, and removal counts as done
        refusedRow("unfinished", R"({"a": 1)", "Unexpected end of the text at line 1, column 8.");
        refusedRow("missing comma", "{\n  \"a\": 1\n  \"b\": 2\n}",
                   "Expected ',' or '}' after the member at line 3, column 3.");
        refusedRow("unterminated comment", "{ /* open }", "Unterminated comment at line 1, column 3.");
        refusedRow("bad escape", R"({"a": "x\q"})", "Invalid escape in a string at line 1, column 9.");
        refusedRow("double comma", R"({"a": [1,,2]})", "Expected a value at line 1, column 10.");
        refusedRow("leading zero", R"({"a": 01})", "Expected ',' or '}' after the member at line 1, column 8.");
        refusedRow("number out of range", "{\"a\": [1e-3, 1e400]}", "Number out of range at line 1, column 14.");
        refusedRow("text after the end, column in characters", "{\"é\": 1} x",
                   "Unexpected text after the end of the document at line 1, column 10.");
        refusedRow("raw control character", "{\"a\": \"\x01\"}",
                   "Control character in a string (it must be written as an escape) at line 1, column 8.");
        refusedRow("invalid UTF-8", "{\"a\": \"\xC3(\"}", "Invalid UTF-8 in a string at line 1, column 8.");
        refusedRow("UTF-8 surrogate", "{\"a\": \"\xED\xA0\x80\"}", "Invalid UTF-8 in a string at line 1, column 8.");
        refusedRow("nested too deeply", "{\"a\":" + QByteArray(600, '[') + QByteArray(600, ']') + '}',
                   "Nested too deeply at line 1, column 517.");
        refusedRow("top level an array", "[1, 2]", "The top level of the document is not an object.");
        refusedRow("servers object an array", R"({"mcpServers": []})",
                   "\"mcpServers\" holds an array where an object is expected; it was left as it is.", true);
        refusedRow("deeper path member null", R"({"mcp": {"servers": null}})",
                   "\"mcp.servers\" holds null where an object is expected; it was left as it is.", true,
                   QStringList{"mcp", "servers"});
    }
    void refused()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, path);
        QFETCH(QString, error);
        QFETCH(bool, valid);
        QByteArray edited = text;
        QString message;
        QVERIFY(!JsoncEdit::setMember(edited, path, QStringLiteral("tavrin"), json(s_entry), &message));
        QCOMPARE(message, error);
        QCOMPARE(edited, text);
        message.clear();
        QCOMPARE(JsoncEdit::removeMember(edited, path, QStringLiteral("tavrin"), &message), valid);
        QCOMPARE(message, valid ? QString() : error);
        QCOMPARE(edited, text);
        const JsoncEdit::Parsed parsed = JsoncEdit::parse(text);
        QCOMPARE(parsed.ok, valid);
        QCOMPARE(parsed.error, valid ? QString() : error);
    }

    // Generated documents, edited and read back: the result holds exactly the expected object, and
    // nothing outside the edited object changes, and inside it nothing but our member, whitespace
    // and commas. TAVRIN_JSONC_SEED repeats a run.
    void randomDocuments()
    {
        const quint32 seed = qEnvironmentVariableIsSet("TAVRIN_JSONC_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("TAVRIN_JSONC_SEED"))
                                 : QRandomGenerator::global()->generate();
        const int rounds = qEnvironmentVariableIsSet("TAVRIN_JSONC_ROUNDS")
                               ? qEnvironmentVariableIntValue("TAVRIN_JSONC_ROUNDS")
                               : 500;
        const QStringList path{QStringLiteral("mcp"), QStringLiteral("servers")};
        const QString name = QStringLiteral("tavrin");
        for (int round = 0; round < rounds; ++round) {
            Generator doc(seed + quint32(round));
            const QByteArray &text = doc.text;
            QByteArray edited;
            auto context = [&](const char *what) {
                return QStringLiteral("%1 (TAVRIN_JSONC_SEED=%2, round %3)\n--- document:\n%4\n--- edited:\n%5")
                    .arg(QLatin1String(what))
                    .arg(seed)
                    .arg(round)
                    .arg(QString::fromUtf8(text), QString::fromUtf8(edited));
            };
#define CHECK(condition)                                                                                               \
    if (!(condition))                                                                                                  \
        QFAIL(qPrintable(context(#condition)));

            const JsoncEdit::Parsed parsed = JsoncEdit::parse(text);
            CHECK(parsed.ok && parsed.root == doc.root);

            Generator other(seed + quint32(round) + 7919u);
            const QJsonValue value = other.value(1, 2);
            edited = text;
            QString error;
            CHECK(JsoncEdit::setMember(edited, path, name, value, &error));
            const QJsonObject afterSet = withEntry(doc.root, [&](QJsonObject &s) { s.insert(name, value); });
            CHECK(JsoncEdit::parse(edited).root == afterSet);
            if (doc.levels == 2 && doc.ours > 0) {
                CHECK(commonPrefix(text, edited) >= doc.valueStart &&
                      commonSuffix(text, edited) >= text.size() - doc.valueEnd);
            } else {
                CHECK(commonPrefix(text, edited) > doc.open[doc.levels]);
                CHECK(commonSuffix(text, edited) >= text.size() - doc.close[doc.levels]);
                const QByteArray created = doc.levels == 0 ? "\"mcp\"" : doc.levels == 1 ? "\"servers\"" : "\"tavrin\"";
                CHECK(withoutMember(tokens(edited), created) == withoutMember(tokens(text), {}));
            }
            CHECK(JsoncEdit::removeMember(edited, path, name, &error));
            CHECK(JsoncEdit::parse(edited).root == withEntry(doc.root, [&](QJsonObject &s) { s.remove(name); }));

            edited = text;
            CHECK(JsoncEdit::removeMember(edited, path, name, &error));
            if (doc.levels < 2) {
                CHECK(edited == text);
                continue;
            }
            CHECK(JsoncEdit::parse(edited).root == withEntry(doc.root, [&](QJsonObject &s) { s.remove(name); }));
            CHECK(commonPrefix(text, edited) > doc.open[2]);
            CHECK(commonSuffix(text, edited) >= text.size() - doc.close[2]);
            CHECK(!tokens(edited).contains("\"tavrin\""));
            CHECK(withoutMember(tokens(edited), {}) == withoutMember(tokens(text), "\"tavrin\""));
#undef CHECK
        }
    }
};

TAVRIN_TEST_GUILESS_MAIN(TestJsoncEdit)
#include "tst_jsoncedit.moc"
