#include "base/tomlreader.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

#include <functional>

namespace {

using TableEdit = std::function<bool(QJsonObject &table)>;

// Applies `edit` to the table at `keys` below `table`, creating missing tables on the way; inside
// an array of tables the path continues in its last table. False when a value stands in the way.
bool editTable(QJsonObject &table, const QStringList &keys, int depth, const TableEdit &edit)
{
    if (depth == keys.size())
        return edit(table);
    const QString &key = keys.at(depth);
    QJsonValue child = table.value(key);
    if (child.isUndefined())
        child = QJsonObject();
    if (child.isObject()) {
        QJsonObject sub = child.toObject();
        if (!editTable(sub, keys, depth + 1, edit))
            return false;
        table.insert(key, sub);
        return true;
    }
    if (child.isArray()) {
        QJsonArray array = child.toArray();
        if (array.isEmpty() || !array.last().isObject())
            return false;
        QJsonObject sub = array.last().toObject();
        if (!editTable(sub, keys, depth + 1, edit))
            return false;
        array[array.size() - 1] = sub;
        table.insert(key, array);
        return true;
    }
    return false;
}

bool insertValue(QJsonObject &table, const QStringList &keys, const QJsonValue &value)
{
    const QString &last = keys.last();
    return editTable(table, keys.mid(0, keys.size() - 1), 0, [&](QJsonObject &t) {
        if (t.contains(last))
            return false;
        t.insert(last, value);
        return true;
    });
}

class Parser
{
public:
    explicit Parser(const QString &text) : m_text(text) {}

    bool run(QJsonObject *document)
    {
        QStringList current;
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
                if (!header(current))
                    return false;
            } else if (!keyValue(m_root, current)) {
                return false;
            }
        }
        *document = m_root;
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

    bool header(QStringList &current)
    {
        const bool arrayOfTables = startsWith("[[");
        m_pos += arrayOfTables ? 2 : 1;
        QStringList keys;
        if (!key(keys))
            return false;
        skipSpaces();
        if (!startsWith(arrayOfTables ? "]]" : "]"))
            return fail(QStringLiteral("unclosed table header"));
        m_pos += arrayOfTables ? 2 : 1;
        bool ok;
        if (arrayOfTables) {
            const QString last = keys.last();
            ok = editTable(m_root, keys.mid(0, keys.size() - 1), 0, [&](QJsonObject &t) {
                const QJsonValue existing = t.value(last);
                if (!existing.isUndefined() && !existing.isArray())
                    return false;
                QJsonArray array = existing.toArray();
                array.append(QJsonObject());
                t.insert(last, array);
                return true;
            });
        } else {
            ok = editTable(m_root, keys, 0, [](QJsonObject &) { return true; });
        }
        if (!ok)
            return fail(QStringLiteral("table \"%1\" clashes with a value").arg(keys.join(QLatin1Char('.'))));
        current = keys;
        return lineEnd();
    }

    bool keyValue(QJsonObject &root, const QStringList &prefix, bool inlineTable = false)
    {
        QStringList keys;
        if (!key(keys))
            return false;
        skipSpaces();
        if (peek() != QLatin1Char('='))
            return fail(QStringLiteral("expected '=' after a key"));
        ++m_pos;
        skipSpaces();
        QJsonValue v;
        if (!value(v))
            return false;
        if (!insertValue(root, prefix + keys, v))
            return fail(QStringLiteral("key \"%1\" defined twice").arg((prefix + keys).join(QLatin1Char('.'))));
        return inlineTable || lineEnd();
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

    bool value(QJsonValue &out)
    {
        const QChar c = peek();
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            QString s;
            const bool ok =
                startsWith(c == QLatin1Char('"') ? "\"\"\"" : "'''") ? multiLineString(s) : singleLineString(s);
            out = s;
            return ok;
        }
        if (c == QLatin1Char('['))
            return array(out);
        if (c == QLatin1Char('{'))
            return inlineTable(out);
        return scalar(out);
    }

    bool array(QJsonValue &out)
    {
        ++m_pos;
        QJsonArray items;
        for (;;) {
            skipBlank();
            if (peek() == QLatin1Char(']'))
                break;
            QJsonValue item;
            if (!value(item))
                return false;
            items.append(item);
            skipBlank();
            if (peek() == QLatin1Char(','))
                ++m_pos;
            else if (peek() != QLatin1Char(']'))
                return fail(QStringLiteral("expected ',' or ']' in an array"));
        }
        ++m_pos;
        out = items;
        return true;
    }

    bool inlineTable(QJsonValue &out)
    {
        ++m_pos;
        QJsonObject table;
        for (;;) {
            skipBlank();
            if (peek() == QLatin1Char('}'))
                break;
            if (!keyValue(table, {}, true))
                return false;
            skipBlank();
            if (peek() == QLatin1Char(','))
                ++m_pos;
            else if (peek() != QLatin1Char('}'))
                return fail(QStringLiteral("expected ',' or '}' in an inline table"));
        }
        ++m_pos;
        out = table;
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
        if (token == QLatin1String("true") || token == QLatin1String("false")) {
            out = token == QLatin1String("true");
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
    QJsonObject m_root;
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
