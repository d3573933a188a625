#include "base/jsoncedit.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringDecoder>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Deeper than any settings file, well within the stack and Qt's own reader.
constexpr int s_maxDepth = 512;
constexpr char s_bom[] = "\xEF\xBB\xBF";

struct Member
{
    QString key;
    qsizetype keyStart = 0;
    qsizetype valueStart = 0;
    qsizetype valueEnd = 0; // one past the value
    qsizetype comma = -1;   // the comma after the value, if any
};

struct ObjectSpan
{
    qsizetype open = 0;  // '{'
    qsizetype close = 0; // '}'
    QList<Member> members;

    qsizetype lastIndexOf(const QString &key) const
    {
        for (qsizetype i = members.size() - 1; i >= 0; --i)
            if (members.at(i).key == key)
                return i;
        return -1;
    }
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Where a line comment starting at `from` ends: before its CR or LF. Editors built on Microsoft's
// JSON scanner (VS Code and others) end it at a lone CR too, and so must we, or a member after it
// would be ours but invisible to them.
qsizetype lineCommentEnd(const char *data, qsizetype from, qsizetype size)
{
    while (from < size && data[from] != '\n' && data[from] != '\r')
        ++from;
    return from;
}

// Key text, decoded exactly: QString::fromUtf8 drops a byte-order mark at the start, which would
// make "\uFEFFtavrin" read as "tavrin".
QString decodeExactly(const char *data, qsizetype size)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(data, size));
}

// A validating scanner over the raw bytes. Member positions are recorded only for the objects a
// caller asks about, so a large file costs one pass and no allocations. Given `clean`, it blanks
// comments, trailing commas and the byte-order mark there, which leaves strict JSON at the same
// offsets for Qt's reader.
class Scanner
{
public:
    explicit Scanner(const QByteArray &text, QByteArray *clean = nullptr)
        : m_text(text), m_data(text.constData()), m_size(text.size()), m_clean(clean)
    {
        if (m_clean) {
            *m_clean = text;
            m_clean->detach();
        }
    }

    // Validates the whole text. *top becomes the offset of the top-level value, -1 when the text
    // holds nothing but whitespace and comments; when that value is an object, *root (if given)
    // receives its members.
    bool document(qsizetype *top, ObjectSpan *root)
    {
        m_pos = 0;
        if (m_size >= 3 && std::memcmp(m_data, s_bom, 3) == 0) {
            blank(0, 3);
            m_pos = 3;
        }
        if (!trivia())
            return false;
        *top = m_pos == m_size ? -1 : m_pos;
        if (*top < 0)
            return true;
        if (!value(0, root) || !trivia())
            return false;
        return m_pos == m_size || fail("Unexpected text after the end of the document");
    }

    // Collects the members of the object at `open`, which document() has validated already.
    void object(qsizetype open, ObjectSpan *span)
    {
        m_pos = open;
        objectBody(0, span);
    }

    QString describe(const QString &what, qsizetype pos) const
    {
        qsizetype line = 1;
        qsizetype column = 1;
        const qsizetype from = m_size >= 3 && std::memcmp(m_data, s_bom, 3) == 0 ? 3 : 0;
        for (qsizetype i = from; i < std::min(pos, m_size); ++i) {
            if (m_data[i] == '\n' || (m_data[i] == '\r' && (i + 1 == m_size || m_data[i + 1] != '\n'))) {
                ++line;
                column = 1;
            } else if ((uchar(m_data[i]) & 0xC0) != 0x80) {
                ++column;
            }
        }
        return QStringLiteral("%1 at line %2, column %3.").arg(what).arg(line).arg(column);
    }
    QString error() const { return describe(m_error, m_errorPos); }

private:
    bool fail(const char *what, qsizetype pos = -1)
    {
        m_errorPos = pos >= 0 ? pos : m_pos;
        m_error = pos < 0 && m_pos >= m_size ? QStringLiteral("Unexpected end of the text") : QString::fromLatin1(what);
        return false;
    }
    bool at(char c) const { return m_pos < m_size && m_data[m_pos] == c; }
    void blank(qsizetype pos, qsizetype length)
    {
        if (m_clean)
            std::memset(m_clean->data() + pos, ' ', size_t(length));
    }

    bool value(int depth, ObjectSpan *span)
    {
        if (m_pos >= m_size)
            return fail("Expected a value");
        switch (m_data[m_pos]) {
        case '{':
            return objectBody(depth + 1, span);
        case '[':
            return array(depth + 1);
        case '"':
            return string(nullptr);
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default:
            return m_data[m_pos] == '-' || isDigit(m_data[m_pos]) ? number() : fail("Expected a value");
        }
    }

    bool objectBody(int depth, ObjectSpan *span)
    {
        if (depth > s_maxDepth)
            return fail("Nested too deeply");
        if (span) {
            span->open = m_pos;
            span->members.clear();
        }
        ++m_pos;
        if (!trivia())
            return false;
        bool end = at('}');
        while (!end) {
            if (!at('"'))
                return fail("Expected a member name in double quotes");
            Member member;
            member.keyStart = m_pos;
            if (!string(span ? &member.key : nullptr) || !trivia())
                return false;
            if (!at(':'))
                return fail("Expected ':' after the member name");
            ++m_pos;
            if (!trivia())
                return false;
            member.valueStart = m_pos;
            if (!value(depth, nullptr))
                return false;
            member.valueEnd = m_pos;
            if (!trivia())
                return false;
            if (at(',')) {
                member.comma = m_pos++;
                if (!trivia())
                    return false;
                end = at('}');
                if (end)
                    blank(member.comma, 1);
            } else if (at('}')) {
                end = true;
            } else {
                return fail("Expected ',' or '}' after the member");
            }
            if (span)
                span->members.append(std::move(member));
        }
        if (span)
            span->close = m_pos;
        ++m_pos;
        return true;
    }

    bool array(int depth)
    {
        if (depth > s_maxDepth)
            return fail("Nested too deeply");
        ++m_pos;
        if (!trivia())
            return false;
        while (!at(']')) {
            if (!value(depth, nullptr) || !trivia())
                return false;
            if (at(',')) {
                const qsizetype comma = m_pos++;
                if (!trivia())
                    return false;
                if (at(']'))
                    blank(comma, 1);
            } else if (!at(']')) {
                return fail("Expected ',' or ']' after the array element");
            }
        }
        ++m_pos;
        return true;
    }

    bool word(const char *literal)
    {
        const auto length = qsizetype(std::strlen(literal));
        if (m_size - m_pos < length || std::memcmp(m_data + m_pos, literal, size_t(length)) != 0)
            return fail("Expected a value");
        m_pos += length;
        return true;
    }

    bool number()
    {
        const qsizetype start = m_pos;
        auto digits = [this] {
            const qsizetype from = m_pos;
            while (m_pos < m_size && isDigit(m_data[m_pos]))
                ++m_pos;
            return m_pos > from;
        };
        if (at('-'))
            ++m_pos;
        if (at('0'))
            ++m_pos;
        else if (!digits())
            return fail("Invalid number", start);
        if (at('.')) {
            ++m_pos;
            if (!digits())
                return fail("Invalid number", start);
        }
        if (at('e') || at('E')) {
            ++m_pos;
            if (at('+') || at('-'))
                ++m_pos;
            if (!digits())
                return fail("Invalid number", start);
        }
        // Qt's reader refuses numbers no double holds (1e400, 1e-400); so do the edits, to agree with parse().
        if (m_pos - start > 15 || std::memchr(m_data + start, 'e', size_t(m_pos - start)) ||
            std::memchr(m_data + start, 'E', size_t(m_pos - start))) {
            bool ok = false;
            QByteArray::fromRawData(m_data + start, m_pos - start).toDouble(&ok);
            if (!ok)
                return fail("Number out of range", start);
        }
        return true;
    }

    // Keys are decoded (for comparison); other strings are only checked.
    bool string(QString *decoded)
    {
        const qsizetype start = m_pos++;
        qsizetype run = m_pos; // start of the stretch not yet copied into *decoded
        if (decoded)
            decoded->clear();
        while (m_pos < m_size) {
            const auto c = uchar(m_data[m_pos]);
            if (c == '"') {
                if (decoded)
                    decoded->append(decodeExactly(m_data + run, m_pos - run));
                ++m_pos;
                return true;
            }
            if (c == '\\') {
                if (decoded)
                    decoded->append(decodeExactly(m_data + run, m_pos - run));
                if (!escape(decoded))
                    return false;
                run = m_pos;
            } else if (c < 0x20) {
                return fail("Control character in a string (it must be written as an escape)");
            } else if (c < 0x80) {
                ++m_pos;
            } else if (!utf8()) {
                return fail("Invalid UTF-8 in a string");
            }
        }
        return fail("Unterminated string", start);
    }

    bool escape(QString *decoded)
    {
        if (m_pos + 1 >= m_size)
            return fail("Unterminated string");
        const char e = m_data[m_pos + 1];
        static const char s_escapes[] = "\"\\/bfnrt";
        static const char s_meanings[] = "\"\\/\b\f\n\r\t";
        if (const char *found = e ? std::strchr(s_escapes, e) : nullptr) {
            if (decoded)
                decoded->append(QLatin1Char(s_meanings[found - s_escapes]));
            m_pos += 2;
            return true;
        }
        if (e != 'u')
            return fail("Invalid escape in a string");
        if (m_size - m_pos < 6)
            return fail("Invalid \\u escape in a string");
        char16_t unit = 0;
        for (qsizetype i = m_pos + 2; i < m_pos + 6; ++i) {
            const char h = m_data[i];
            const int digit = isDigit(h)               ? h - '0'
                              : (h >= 'a' && h <= 'f') ? h - 'a' + 10
                              : (h >= 'A' && h <= 'F') ? h - 'A' + 10
                                                       : -1;
            if (digit < 0)
                return fail("Invalid \\u escape in a string");
            unit = char16_t(unit * 16 + digit);
        }
        // QString holds UTF-16, so the halves of an escaped surrogate pair join by themselves.
        if (decoded)
            decoded->append(QChar(unit));
        m_pos += 6;
        return true;
    }

    // Checks one multi-byte UTF-8 sequence: no overlong forms, no surrogates, nothing past U+10FFFF.
    bool utf8()
    {
        const auto lead = uchar(m_data[m_pos]);
        int extra = 0;
        uchar low = 0x80;
        uchar high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (m_size - m_pos <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            const auto c = uchar(m_data[m_pos + i]);
            if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF))
                return false;
        }
        m_pos += extra + 1;
        return true;
    }

    // Whitespace and comments.
    bool trivia()
    {
        while (m_pos < m_size) {
            const char c = m_data[m_pos];
            if (isSpace(c)) {
                ++m_pos;
                continue;
            }
            if (c != '/' || m_pos + 1 >= m_size)
                return true;
            qsizetype end = 0;
            if (m_data[m_pos + 1] == '/') {
                end = lineCommentEnd(m_data, m_pos + 2, m_size);
            } else if (m_data[m_pos + 1] == '*') {
                const qsizetype close = m_text.indexOf("*/", m_pos + 2);
                if (close < 0)
                    return fail("Unterminated comment", m_pos);
                end = close + 2;
            } else {
                return true;
            }
            blank(m_pos, end - m_pos);
            m_pos = end;
        }
        return true;
    }

    const QByteArray &m_text;
    const char *m_data;
    qsizetype m_size;
    QByteArray *m_clean;
    qsizetype m_pos = 0;
    QString m_error;
    qsizetype m_errorPos = 0;
};

// How the document writes itself: line ending and indent unit.
struct Style
{
    QByteArray eol = "\n";
    QByteArray unit = "    "; // for documents with no indented line
};

Style detectStyle(const QByteArray &text)
{
    Style style;
    const qsizetype firstNewline = text.indexOf('\n');
    if (firstNewline > 0 && text.at(firstNewline - 1) == '\r')
        style.eol = "\r\n";
    // Vote over the first lines: tab-indented lines against space-indented ones, and among the
    // latter the most frequent step between consecutive indents. Steps of one space come from
    // " * " lines of block comments and do not vote.
    int tabLines = 0;
    int spaceLines = 0;
    int steps[9] = {};
    qsizetype previous = 0;
    int lines = 0;
    const char *data = text.constData();
    for (qsizetype pos = 0; pos < text.size() && lines < 2000;) {
        const void *nl = std::memchr(data + pos, '\n', size_t(text.size() - pos));
        const qsizetype end = nl ? static_cast<const char *>(nl) - data : text.size();
        qsizetype i = pos;
        while (i < end && isBlank(data[i]))
            ++i;
        if (i < end && data[i] != '\r') {
            ++lines;
            if (data[pos] == '\t') {
                ++tabLines;
            } else {
                const qsizetype step = std::abs(i - pos - previous);
                if (step >= 2 && step <= 8)
                    ++steps[step];
                if (i > pos)
                    ++spaceLines;
                previous = i - pos;
            }
        }
        pos = end + 1;
    }
    if (tabLines > spaceLines) {
        style.unit = "\t";
    } else {
        int best = 0;
        for (int step : {4, 2, 8, 3, 6, 5, 7}) {
            if (steps[step] > best) {
                best = steps[step];
                style.unit = QByteArray(step, ' ');
            }
        }
    }
    return style;
}

qsizetype lineStart(const QByteArray &text, qsizetype pos)
{
    while (pos > 0 && text.at(pos - 1) != '\n')
        --pos;
    return pos;
}

QByteArray indentOf(const QByteArray &text, qsizetype pos)
{
    const qsizetype start = lineStart(text, pos);
    qsizetype end = start;
    while (end < text.size() && isBlank(text.at(end)))
        ++end;
    return text.mid(start, end - start);
}

bool onlyBlanks(const QByteArray &text, qsizetype from, qsizetype to)
{
    for (qsizetype i = from; i < to; ++i)
        if (!isBlank(text.at(i)))
            return false;
    return true;
}

bool hasNewline(const QByteArray &text, qsizetype from, qsizetype to)
{
    return to > from && std::memchr(text.constData() + from, '\n', size_t(to - from));
}

// End of the (valid) comment starting at `pos`; a line comment ends before its line ending.
qsizetype commentEnd(const QByteArray &text, qsizetype pos)
{
    if (text.at(pos + 1) == '*')
        return text.indexOf("*/", pos + 2) + 2;
    return lineCommentEnd(text.constData(), pos + 2, text.size());
}

QByteArray scalar(const QJsonValue &value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// Objects and arrays go over several lines in the document's indent unit, `indent` being that of
// the line they start on; `compact` keeps them on one line, for objects written on one line.
void write(QByteArray &out, const QJsonValue &value, const QByteArray &indent, const Style &style, bool compact)
{
    if (!value.isObject() && !value.isArray()) {
        out += scalar(value);
        return;
    }
    const QByteArray inner = indent + style.unit;
    bool first = true;
    auto separate = [&] {
        if (!first)
            out += compact ? ", " : ",";
        if (!compact) {
            out += style.eol;
            out += inner;
        }
        first = false;
    };
    auto close = [&](char bracket) {
        if (!compact && !first) {
            out += style.eol;
            out += indent;
        }
        out += bracket;
    };
    if (value.isObject()) {
        out += '{';
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            separate();
            out += scalar(it.key());
            out += ": ";
            write(out, it.value(), inner, style, compact);
        }
        close('}');
    } else {
        out += '[';
        for (const QJsonValue element : value.toArray()) {
            separate();
            write(out, element, inner, style, compact);
        }
        close(']');
    }
}

QByteArray member(const QString &key, const QJsonValue &value, const QByteArray &indent, const Style &style,
                  bool compact)
{
    QByteArray out = scalar(key) + ": ";
    write(out, value, indent, style, compact);
    return out;
}

struct Edit
{
    qsizetype pos;
    qsizetype length;
    QByteArray bytes;
};

// Edits refer to offsets in the unedited text and do not overlap; the last one goes first.
void apply(QByteArray &text, QList<Edit> edits)
{
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.pos > b.pos; });
    for (const Edit &edit : edits)
        text.replace(edit.pos, edit.length, edit.bytes);
}

// A new member for object `o`, after its last member, or after the comments an empty object holds
// (so a heading comment stays above it).
QList<Edit> insertion(const QByteArray &text, const ObjectSpan &o, const QString &key, const QJsonValue &value,
                      const Style &style)
{
    const QByteArray parentIndent = indentOf(text, o.open);
    if (o.members.isEmpty()) {
        qsizetype pos = o.open + 1;
        QByteArray indent = parentIndent + style.unit;
        for (qsizetype i = pos;;) {
            while (i < o.close && isSpace(text.at(i)))
                ++i;
            if (i >= o.close)
                break;
            const qsizetype start = lineStart(text, i); // a comment: nothing else can be here
            if (start > o.open && onlyBlanks(text, start, i))
                indent = text.mid(start, i - start);
            i = pos = commentEnd(text, i);
        }
        const QByteArray bytes = style.eol + indent + member(key, value, indent, style, false);
        if (hasNewline(text, pos, o.close))
            return {{pos, 0, bytes}};
        return {{pos, o.close - pos, bytes + style.eol + parentIndent}};
    }

    const Member &last = o.members.last();
    const bool trailingComma = last.comma >= 0;
    const qsizetype after = trailingComma ? last.comma + 1 : last.valueEnd;
    if (!hasNewline(text, o.open, o.close)) {
        QByteArray bytes = trailingComma ? " " : ", ";
        bytes += member(key, value, {}, style, true);
        if (trailingComma)
            bytes += ',';
        return {{after, 0, bytes}};
    }

    // Indented like the last sibling that begins its own line.
    QByteArray indent = parentIndent + style.unit;
    for (qsizetype i = o.members.size() - 1; i >= 0; --i) {
        const qsizetype keyStart = o.members.at(i).keyStart;
        const qsizetype start = lineStart(text, keyStart);
        if (start > o.open && onlyBlanks(text, start, keyStart)) {
            indent = text.mid(start, keyStart - start);
            break;
        }
    }
    QByteArray bytes = style.eol + indent + member(key, value, indent, style, false);
    if (trailingComma)
        bytes += ',';
    // Comments on the last member's line stay on that line.
    qsizetype pos = after;
    for (;;) {
        while (pos < o.close && isBlank(text.at(pos)))
            ++pos;
        if (text.at(pos) != '/')
            break;
        pos = commentEnd(text, pos);
    }
    if (text.at(pos) != '\n' && text.at(pos) != '\r') // the closing brace shares the line
        return {{after, 0, (trailingComma ? QByteArray() : QByteArray(",")) + bytes}};
    if (!trailingComma && pos == last.valueEnd)
        return {{pos, 0, ',' + bytes}};
    QList<Edit> edits{{pos, 0, bytes}};
    if (!trailingComma)
        edits.append({last.valueEnd, 0, ","});
    return edits;
}

// Removes member `index` of `o` (key to value) with the comma that separates it, and its line when
// it stands alone there.
QList<Edit> removal(const QByteArray &text, const ObjectSpan &o, qsizetype index)
{
    const Member &m = o.members.at(index);
    const bool ownComma = m.comma >= 0;
    // A comment between the value and its comma stays: only the comma goes.
    const bool commaFollows = ownComma && onlyBlanks(text, m.valueEnd, m.comma);
    const qsizetype end = commaFollows ? m.comma + 1 : m.valueEnd;
    QList<Edit> edits;
    if (ownComma && !commaFollows)
        edits.append({m.comma, 1, {}});
    else if (!ownComma && index > 0)
        edits.append({o.members.at(index - 1).comma, 1, {}});
    const qsizetype start = lineStart(text, m.keyStart);
    const bool aloneBefore = start > o.open && onlyBlanks(text, start, m.keyStart);
    qsizetype after = end;
    while (after < text.size() && isBlank(text.at(after)))
        ++after;
    if (aloneBefore && (after == text.size() || text.at(after) == '\n' || text.at(after) == '\r')) {
        if (after < text.size() && text.at(after) == '\r')
            ++after;
        if (after < text.size() && text.at(after) == '\n')
            ++after;
        edits.append({start, after - start, {}});
    } else if (aloneBefore || ownComma) {
        edits.append({m.keyStart, after - m.keyStart, {}});
    } else {
        qsizetype before = m.keyStart;
        while (before > o.open + 1 && isBlank(text.at(before - 1)))
            --before;
        edits.append({before, end - before, {}});
    }
    return edits;
}

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

QString notAnObject(const QStringList &path, qsizetype index, char first)
{
    const char *what = first == '['                     ? "an array"
                       : first == '"'                   ? "a string"
                       : first == 'n'                   ? "null"
                       : (first == 't' || first == 'f') ? "a boolean"
                                                        : "a number";
    return QStringLiteral("\"%1\" holds %2 where an object is expected; it was left as it is.")
        .arg(path.mid(0, index + 1).join(QLatin1Char('.')), QLatin1String(what));
}

const QString s_topNotObject = QStringLiteral("The top level of the document is not an object.");

enum class Walk { Found, Missing, NotObject };

// Follows `path` from the top-level object, leaving in *object the deepest object reached and in
// *depth how many path members were found.
Walk walk(Scanner &scanner, const QByteArray &text, const QStringList &path, ObjectSpan *object, qsizetype *depth)
{
    for (*depth = 0; *depth < path.size(); ++*depth) {
        const qsizetype at = object->lastIndexOf(path.at(*depth));
        if (at < 0)
            return Walk::Missing;
        const qsizetype valueStart = object->members.at(at).valueStart;
        if (text.at(valueStart) != '{')
            return Walk::NotObject;
        scanner.object(valueStart, object);
    }
    return Walk::Found;
}

} // namespace

namespace JsoncEdit {

Parsed parse(const QByteArray &text)
{
    Parsed result;
    QByteArray clean;
    Scanner scanner(text, &clean);
    qsizetype top = -1;
    if (!scanner.document(&top, nullptr)) {
        result.error = scanner.error();
        return result;
    }
    if (top >= 0 && text.at(top) != '{') {
        result.error = s_topNotObject;
        return result;
    }
    if (top >= 0) {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(clean, &parseError);
        if (parseError.error != QJsonParseError::NoError) {
            result.error = scanner.describe(parseError.errorString(), parseError.offset);
            return result;
        }
        result.root = document.object();
    }
    result.ok = true;
    return result;
}

bool setMember(QByteArray &text, const QStringList &objectPath, const QString &name, const QJsonValue &value,
               QString *error)
{
    Scanner scanner(text);
    qsizetype top = -1;
    ObjectSpan object;
    if (!scanner.document(&top, &object))
        return fail(error, scanner.error());
    if (top >= 0 && text.at(top) != '{')
        return fail(error, s_topNotObject);

    qsizetype found = 0;
    const Walk walked = top < 0 ? Walk::Missing : walk(scanner, text, objectPath, &object, &found);
    if (walked == Walk::NotObject)
        return fail(error,
                    notAnObject(objectPath, found,
                                text.at(object.members.at(object.lastIndexOf(objectPath.at(found))).valueStart)));
    // Missing objects of the path are created around the value.
    QString key = name;
    QJsonValue placed = value;
    for (qsizetype i = objectPath.size() - 1; i >= found; --i) {
        placed = QJsonObject{{key, placed}};
        key = objectPath.at(i);
    }
    const Style style = detectStyle(text);

    if (top < 0) {
        const qsizetype bom = text.startsWith(s_bom) ? 3 : 0;
        QByteArray body;
        write(body, QJsonObject{{key, placed}}, {}, style, false);
        body += style.eol;
        if (std::all_of(text.cbegin() + bom, text.cend(), isSpace)) {
            text = text.left(bom) + body;
        } else { // comments only: they stay above
            if (!text.endsWith('\n'))
                text += style.eol;
            text += body;
        }
        return true;
    }

    const qsizetype existing = object.lastIndexOf(key);
    if (existing < 0) {
        apply(text, insertion(text, object, key, placed, style));
        return true;
    }
    const Member &m = object.members.at(existing);
    QByteArray bytes;
    write(bytes, placed, indentOf(text, m.keyStart), style, !hasNewline(text, object.open, object.close));
    apply(text, {{m.valueStart, m.valueEnd - m.valueStart, bytes}});
    return true;
}

bool removeMember(QByteArray &text, const QStringList &objectPath, const QString &name, QString *error)
{
    qsizetype top = -1;
    ObjectSpan object;
    Scanner scanner(text);
    if (!scanner.document(&top, &object))
        return fail(error, scanner.error());
    if (top < 0)
        return true;
    if (text.at(top) != '{')
        return fail(error, s_topNotObject);
    qsizetype found = 0;
    if (walk(scanner, text, objectPath, &object, &found) != Walk::Found)
        return true;

    // One occurrence per round, the last first, until no duplicate is left to show through. The
    // edits stay inside the object, so it still opens where it did.
    for (qsizetype index = object.lastIndexOf(name); index >= 0; index = object.lastIndexOf(name)) {
        const QList<Edit> edits = removal(text, object, index);
        qsizetype removed = 0;
        for (const Edit &edit : edits)
            removed += edit.length;
        apply(text, edits);
        // An object left with only whitespace inside closes up to "{}".
        const qsizetype close = object.close - removed;
        if (object.members.size() == 1 && std::all_of(text.cbegin() + object.open + 1, text.cbegin() + close, isSpace))
            text.remove(object.open + 1, close - object.open - 1);
        Scanner(text).object(object.open, &object);
    }
    return true;
}

bool memberText(const QByteArray &text, const QStringList &objectPath, const QString &name, QByteArray *member)
{
    qsizetype top = -1;
    ObjectSpan object;
    Scanner scanner(text);
    if (!scanner.document(&top, &object) || top < 0 || text.at(top) != '{')
        return false;
    qsizetype found = 0;
    if (walk(scanner, text, objectPath, &object, &found) != Walk::Found)
        return false;
    const qsizetype index = object.lastIndexOf(name);
    if (index < 0)
        return false;
    const Member &m = object.members.at(index);
    const QByteArray indent = indentOf(text, m.keyStart);
    const QList<QByteArray> lines = text.mid(m.keyStart, m.valueEnd - m.keyStart).split('\n');
    member->clear();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            *member += '\n';
        *member += i > 0 && lines.at(i).startsWith(indent) ? lines.at(i).mid(indent.size()) : lines.at(i);
    }
    return true;
}

} // namespace JsoncEdit
