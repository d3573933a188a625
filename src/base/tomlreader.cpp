#include "base/tomlreader.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace {

// Deeper than any settings file, well within the stack of a pool thread; counts table names,
// dotted keys, arrays and inline tables alike.
constexpr int s_maxDepth = 512;

// The document is built in a tree of our own and turned into JSON at the end: editing nested
// QJsonObjects in place copies every table on the way, which made large documents quadratic.
struct Node
{
    enum Kind { Table, Array, Scalar };
    explicit Node(Kind k) : kind(k) {}
    explicit Node(const QJsonValue &v) : kind(Scalar), scalar(v) {}

    Kind kind;
    QJsonValue scalar;
    std::map<QString, std::unique_ptr<Node>> members;
    std::vector<std::unique_ptr<Node>> items;

    Node *member(const QString &key) const
    {
        const auto it = members.find(key);
        return it == members.end() ? nullptr : it->second.get();
    }

    QJsonValue toJson() const
    {
        if (kind == Scalar)
            return scalar;
        if (kind == Array) {
            QJsonArray array;
            for (const auto &item : items)
                array.append(item->toJson());
            return array;
        }
        // In key order, as QJsonObject keeps them: every insertion lands at the end.
        QJsonObject object;
        for (const auto &[key, child] : members)
            object.insert(key, child->toJson());
        return object;
    }
};

// The table at `keys` below `table`, creating missing tables on the way; inside an array of
// tables the path continues in its last table. Null when a value stands in the way.
Node *walk(Node *table, const QStringList &keys, qsizetype count)
{
    for (qsizetype i = 0; i < count; ++i) {
        const QString &key = keys.at(i);
        Node *child = table->member(key);
        if (!child)
            child = (table->members[key] = std::make_unique<Node>(Node::Table)).get();
        if (child->kind == Node::Array) {
            if (child->items.empty() || child->items.back()->kind != Node::Table)
                return nullptr;
            child = child->items.back().get();
        } else if (child->kind != Node::Table) {
            return nullptr;
        }
        table = child;
    }
    return table;
}

class Parser
{
public:
    explicit Parser(const QString &text) : m_text(text) {}

    bool run(QJsonObject *document)
    {
        Node *current = &m_root;
        int currentDepth = 0;
        while (!atEnd()) {
            skipSpaces();
            if (atEnd())
                break;
            const QChar c = peek();
            if (c == QLatin1Char('#')) {
                skipComment();
            } else if (isNewline()) {
                takeNewline();
            } else if (c == QLatin1Char('[')) {
                if (!header(&current, &currentDepth))
                    return false;
            } else if (!keyValue(current, currentDepth) || !lineEnd()) {
                return false;
            }
        }
        *document = m_root.toJson().toObject();
        return true;
    }

    [[nodiscard]] QString error() const { return QStringLiteral("line %1: %2").arg(m_line).arg(m_error); }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar peek(int ahead = 0) const { return m_pos + ahead < m_text.size() ? m_text.at(m_pos + ahead) : QChar(); }
    bool startsWith(const char *s) const { return QStringView(m_text).mid(m_pos).startsWith(QLatin1String(s)); }
    bool isNewline() const
    {
        return peek() == QLatin1Char('\n') || (peek() == QLatin1Char('\r') && peek(1) == QLatin1Char('\n'));
    }
    void takeNewline()
    {
        m_pos += peek() == QLatin1Char('\r') ? 2 : 1;
        ++m_line;
    }
    bool fail(const QString &message)
    {
        m_error = message;
        return false;
    }
    void skipSpaces()
    {
        while (peek() == QLatin1Char(' ') || peek() == QLatin1Char('\t'))
            ++m_pos;
    }
    void skipComment()
    {
        while (!atEnd() && !isNewline())
            ++m_pos;
    }
    // Spaces, newlines and comments, as allowed inside arrays (and inline tables, since TOML 1.1).
    void skipBlank()
    {
        for (;;) {
            skipSpaces();
            if (peek() == QLatin1Char('#'))
                skipComment();
            else if (isNewline())
                takeNewline();
            else
                return;
        }
    }
    bool lineEnd()
    {
        skipSpaces();
        if (peek() == QLatin1Char('#'))
            skipComment();
        if (atEnd())
            return true;
        if (!isNewline())
            return fail(QStringLiteral("unexpected text after a value or header"));
        takeNewline();
        return true;
    }

    bool header(Node **current, int *currentDepth)
    {
        const bool arrayOfTables = startsWith("[[");
        m_pos += arrayOfTables ? 2 : 1;
        QStringList keys;
        if (!key(keys))
            return false;
        if (keys.size() > s_maxDepth)
            return fail(QStringLiteral("nested too deeply"));
        skipSpaces();
        if (!startsWith(arrayOfTables ? "]]" : "]"))
            return fail(QStringLiteral("unclosed table header"));
        m_pos += arrayOfTables ? 2 : 1;
        Node *table = walk(&m_root, keys, arrayOfTables ? keys.size() - 1 : keys.size());
        if (table && arrayOfTables) {
            Node *array = table->member(keys.last());
            if (!array)
                array = (table->members[keys.last()] = std::make_unique<Node>(Node::Array)).get();
            if (array->kind == Node::Array) {
                array->items.push_back(std::make_unique<Node>(Node::Table));
                table = array->items.back().get();
            } else {
                table = nullptr;
            }
        }
        if (!table)
            return fail(QStringLiteral("table \"%1\" clashes with a value").arg(keys.join(QLatin1Char('.'))));
        *current = table;
        *currentDepth = int(keys.size());
        return lineEnd();
    }

    // A key and its value, added to `table` (which lies `depth` levels deep).
    bool keyValue(Node *table, int depth)
    {
        QStringList keys;
        if (!key(keys))
            return false;
        if (depth + keys.size() > s_maxDepth)
            return fail(QStringLiteral("nested too deeply"));
        skipSpaces();
        if (peek() != QLatin1Char('='))
            return fail(QStringLiteral("expected '=' after a key"));
        ++m_pos;
        skipSpaces();
        std::unique_ptr<Node> v;
        if (!value(v, depth + int(keys.size())))
            return false;
        Node *parent = walk(table, keys, keys.size() - 1);
        if (!parent || parent->member(keys.last()))
            return fail(QStringLiteral("key \"%1\" defined twice").arg(keys.join(QLatin1Char('.'))));
        parent->members[keys.last()] = std::move(v);
        return true;
    }

    bool key(QStringList &keys)
    {
        for (;;) {
            skipSpaces();
            QString part;
            const QChar c = peek();
            if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                if (startsWith(c == QLatin1Char('"') ? "\"\"\"" : "'''"))
                    return fail(QStringLiteral("a key cannot be a multi-line string"));
                if (!singleLineString(part))
                    return false;
            } else {
                while (!atEnd() &&
                       (peek().isLetterOrNumber() || peek() == QLatin1Char('_') || peek() == QLatin1Char('-')) &&
                       peek().unicode() < 128)
                    part += m_text.at(m_pos++);
                if (part.isEmpty())
                    return fail(QStringLiteral("expected a key"));
            }
            keys.append(part);
            skipSpaces();
            if (peek() != QLatin1Char('.'))
                return true;
            ++m_pos;
        }
    }

    // The value at the cursor, which lies `depth` levels deep in the document.
    bool value(std::unique_ptr<Node> &out, int depth)
    {
        const QChar c = peek();
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            QString s;
            const bool ok =
                startsWith(c == QLatin1Char('"') ? "\"\"\"" : "'''") ? multiLineString(s) : singleLineString(s);
            out = std::make_unique<Node>(QJsonValue(s));
            return ok;
        }
        if (c == QLatin1Char('[') || c == QLatin1Char('{')) {
            if (depth > s_maxDepth)
                return fail(QStringLiteral("nested too deeply"));
            return c == QLatin1Char('[') ? array(out, depth) : inlineTable(out, depth);
        }
        QJsonValue v;
        if (!scalar(v))
            return false;
        out = std::make_unique<Node>(v);
        return true;
    }

    bool array(std::unique_ptr<Node> &out, int depth)
    {
        ++m_pos;
        out = std::make_unique<Node>(Node::Array);
        for (;;) {
            skipBlank();
            if (peek() == QLatin1Char(']'))
                break;
            std::unique_ptr<Node> item;
            if (!value(item, depth + 1))
                return false;
            out->items.push_back(std::move(item));
            skipBlank();
            if (peek() == QLatin1Char(','))
                ++m_pos;
            else if (peek() != QLatin1Char(']'))
                return fail(QStringLiteral("expected ',' or ']' in an array"));
        }
        ++m_pos;
        return true;
    }

    bool inlineTable(std::unique_ptr<Node> &out, int depth)
    {
        ++m_pos;
        out = std::make_unique<Node>(Node::Table);
        for (;;) {
            skipBlank();
            if (peek() == QLatin1Char('}'))
                break;
            if (!keyValue(out.get(), depth))
                return false;
            skipBlank();
            if (peek() == QLatin1Char(','))
                ++m_pos;
            else if (peek() != QLatin1Char('}'))
                return fail(QStringLiteral("expected ',' or '}' in an inline table"));
        }
        ++m_pos;
        return true;
    }

    bool scalar(QJsonValue &out)
    {
        static const QRegularExpression s_date(QStringLiteral(R"(^\d{4}-\d{2}-\d{2}$)"));
        static const QRegularExpression s_dateTime(QStringLiteral(
            R"(^(\d{4}-\d{2}-\d{2}([Tt ]\d{2}:\d{2}(:\d{2})?)?|\d{2}:\d{2}(:\d{2})?)(\.\d+)?([Zz]|[+-]\d{2}:\d{2})?$)"));
        static const QRegularExpression s_decimal(QStringLiteral(R"(^[+-]?(0|[1-9](_?\d)*)$)"));
        static const QRegularExpression s_prefixed(
            QStringLiteral(R"(^0(x[0-9A-Fa-f](_?[0-9A-Fa-f])*|o[0-7](_?[0-7])*|b[01](_?[01])*)$)"));
        static const QRegularExpression s_float(
            QStringLiteral(R"(^[+-]?(0|[1-9](_?\d)*)(\.\d(_?\d)*)?([eE][+-]?\d(_?\d)*)?$)"));

        static const QRegularExpression s_special(QStringLiteral(R"(^[+-]?(inf|nan)$)"));
        const auto tokenChar = [](QChar ch) {
            return ch.unicode() < 128 && (ch.isLetterOrNumber() || QStringLiteral("_:.+-").contains(ch));
        };
        QString token;
        while (!atEnd() && tokenChar(peek()))
            token += m_text.at(m_pos++);
        // A local date and a time may be separated by a space.
        if (s_date.match(token).hasMatch() && peek() == QLatin1Char(' ') && peek(1).isDigit()) {
            token += m_text.at(m_pos++);
            while (!atEnd() && tokenChar(peek()))
                token += m_text.at(m_pos++);
        }
        // Plain integers are by far the most common numbers: no pattern needed for them.
        const bool digitsOnly = !token.isEmpty() && (token.size() == 1 || token.at(0) != QLatin1Char('0')) &&
                                std::all_of(token.cbegin(), token.cend(), [](QChar ch) { return ch.isDigit(); });
        if (token == QLatin1String("true") || token == QLatin1String("false")) {
            out = token == QLatin1String("true");
        } else if (digitsOnly && token.size() < 16) {
            out = token.toDouble();
        } else if (s_decimal.match(token).hasMatch() || s_float.match(token).hasMatch()) {
            out = QString(token).remove(QLatin1Char('_')).toDouble();
        } else if (s_prefixed.match(token).hasMatch()) {
            const int base = token.at(1) == QLatin1Char('x') ? 16 : token.at(1) == QLatin1Char('o') ? 8 : 2;
            out = double(token.mid(2).remove(QLatin1Char('_')).toULongLong(nullptr, base));
        } else if (s_special.match(token).hasMatch() || s_dateTime.match(token).hasMatch()) {
            out = token; // JSON has no such values
        } else {
            return fail(token.isEmpty() ? QStringLiteral("expected a value")
                                        : QStringLiteral("\"%1\" is not a TOML value").arg(token));
        }
        return true;
    }

    bool escape(QString &out)
    {
        const QChar c = peek();
        ++m_pos;
        switch (c.unicode()) {
        case 'b':
            out += QLatin1Char('\b');
            return true;
        case 't':
            out += QLatin1Char('\t');
            return true;
        case 'n':
            out += QLatin1Char('\n');
            return true;
        case 'f':
            out += QLatin1Char('\f');
            return true;
        case 'r':
            out += QLatin1Char('\r');
            return true;
        case 'e':
            out += QChar(0x1b);
            return true;
        case '"':
            out += QLatin1Char('"');
            return true;
        case '\\':
            out += QLatin1Char('\\');
            return true;
        case 'u':
        case 'U': {
            const int digits = c == QLatin1Char('u') ? 4 : 8;
            bool ok = false;
            const uint code = m_text.mid(m_pos, digits).toUInt(&ok, 16);
            if (!ok || m_pos + digits > m_text.size() || code > 0x10FFFF)
                return fail(QStringLiteral("invalid unicode escape"));
            m_pos += digits;
            const char32_t ch = code;
            out += QString::fromUcs4(&ch, 1);
            return true;
        }
        default:
            return fail(QStringLiteral("invalid escape in a string"));
        }
    }

    bool singleLineString(QString &out)
    {
        const QChar quote = peek();
        ++m_pos;
        for (;;) {
            if (atEnd() || isNewline() || peek() == QLatin1Char('\r'))
                return fail(QStringLiteral("unterminated string"));
            const QChar c = m_text.at(m_pos);
            if (c == quote) {
                ++m_pos;
                return true;
            }
            if (c == QLatin1Char('\\') && quote == QLatin1Char('"')) {
                ++m_pos;
                if (!escape(out))
                    return false;
            } else {
                out += c;
                ++m_pos;
            }
        }
    }

    bool multiLineString(QString &out)
    {
        const QChar quote = peek();
        m_pos += 3;
        if (isNewline()) // a newline right after the opening quotes is not part of the string
            takeNewline();
        for (;;) {
            if (atEnd())
                return fail(QStringLiteral("unterminated multi-line string"));
            if (peek() == quote && peek(1) == quote && peek(2) == quote) {
                // Up to two more quotes just before the closing three belong to the string.
                int quotes = 3;
                while (quotes < 5 && peek(quotes) == quote)
                    ++quotes;
                out += QString(quotes - 3, quote);
                m_pos += quotes;
                return true;
            }
            if (isNewline()) {
                out += QLatin1Char('\n');
                takeNewline();
            } else if (peek() == QLatin1Char('\\') && quote == QLatin1Char('"')) {
                ++m_pos;
                int ahead = 0;
                while (peek(ahead) == QLatin1Char(' ') || peek(ahead) == QLatin1Char('\t'))
                    ++ahead;
                if (peek(ahead) == QLatin1Char('\n') || peek(ahead) == QLatin1Char('\r')) {
                    // A line-ending backslash swallows the newline and the blanks that follow it.
                    m_pos += ahead;
                    while (isNewline() || peek() == QLatin1Char(' ') || peek() == QLatin1Char('\t')) {
                        if (isNewline())
                            takeNewline();
                        else
                            ++m_pos;
                    }
                } else if (!escape(out)) {
                    return false;
                }
            } else {
                out += m_text.at(m_pos++);
            }
        }
    }

    const QString m_text;
    int m_pos = 0;
    int m_line = 1;
    QString m_error;
    Node m_root{Node::Table};
};

} // namespace

namespace TomlReader {

bool parse(const QByteArray &bytes, QJsonObject *document, QString *error)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    if (decoder.hasError()) {
        if (error)
            *error = QStringLiteral("the file is not valid UTF-8");
        return false;
    }
    Parser parser(text);
    QJsonObject result;
    if (!parser.run(&result)) {
        if (error)
            *error = parser.error();
        return false;
    }
    if (document)
        *document = result;
    return true;
}

} // namespace TomlReader
