#include "core/godotconfigedit.h"

#include <QByteArrayView>
#include <QList>

#include <algorithm>
#include <cstring>

namespace {

using Span = GodotConfigEdit::Span;

constexpr char s_bom[] = "\xEF\xBB\xBF";
const QByteArray s_pluginsSection("editor_plugins");
const QByteArray s_pluginsSetting("editor_plugins/enabled");
// Nesting deeper than this is no settings file Godot wrote.
constexpr int s_maxDepth = 256;

struct Section
{
    QByteArray name;
    qsizetype begin = 0; // '['
    qsizetype end = 0;   // one past ']'
};

struct Assignment
{
    int section = -1; // index into Document::sections; -1 before the first header
    QByteArray name;  // section/key, as Godot names the setting
    qsizetype keyBegin = 0;
    Span value;
};

struct Document
{
    QList<Section> sections;
    QList<Assignment> assignments;
    int configVersion = -1;
    qsizetype danglingKey = -1; // a key with no '=' before the end of the text
    QString error;
};

bool isIdentifierStart(uchar c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isIdentifierChar(uchar c)
{
    return isIdentifierStart(c) || (c >= '0' && c <= '9');
}
bool isHexDigit(uchar c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// Spaces, tabs, carriage returns: whitespace that does not end a line.
bool isInlineSpace(uchar c)
{
    return c <= 32 && c != '\n';
}

int lineOf(const QByteArray &text, qsizetype pos)
{
    return 1 + static_cast<int>(QByteArrayView(text.constData(), std::min(pos, text.size())).count('\n'));
}

QString atLine(const QByteArray &text, qsizetype pos, const QString &message)
{
    return QStringLiteral("Line %1: %2.").arg(lineOf(text, pos)).arg(message);
}

// A validating scanner over the raw bytes: one pass, recording only sections and assignments.
class Scanner
{
public:
    Scanner(const QByteArray &text, Document *doc) : m_text(text), m_d(text.constData()), m_n(text.size()), m_doc(doc)
    {}

    bool run()
    {
        qsizetype pos = m_n >= 3 && std::memcmp(m_d, s_bom, 3) == 0 ? 3 : 0;
        QByteArray key;
        qsizetype keyBegin = -1;
        QByteArray section;
        int sectionIndex = -1;
        while (pos < m_n) {
            const auto c = static_cast<uchar>(m_d[pos]);
            if (c == ';') {
                pos = endOfLine(pos);
                continue;
            }
            if (c == '[' && key.isEmpty()) {
                // A header runs to the first ']' that no backslash escapes.
                qsizetype close = pos + 1;
                bool escaping = false;
                for (; close < m_n; ++close) {
                    if (m_d[close] == ']') {
                        if (!escaping)
                            break;
                        escaping = false;
                    } else {
                        escaping = m_d[close] == '\\';
                    }
                }
                if (close >= m_n)
                    return fail(pos, QStringLiteral("the section header is not closed with ']'"));
                section = trimmed(pos + 1, close);
                sectionIndex = static_cast<int>(m_doc->sections.size());
                m_doc->sections.append({section, pos, close + 1});
                pos = close + 1;
                continue;
            }
            if (c <= 32) {
                ++pos;
                continue;
            }
            if (c == '"') {
                if (keyBegin < 0)
                    keyBegin = pos;
                const qsizetype begin = pos;
                if (!skipString(pos))
                    return false;
                key = decodeString(m_text, begin + 1, pos - 1).toUtf8();
                continue;
            }
            if (c != '=') {
                if (keyBegin < 0)
                    keyBegin = pos;
                key.append(static_cast<char>(c));
                ++pos;
                continue;
            }
            ++pos;
            Span span;
            if (!value(pos, &span))
                return false;
            // A value without a key is read and dropped, as Godot does.
            if (!key.isEmpty())
                assign(section, sectionIndex, key, keyBegin, span);
            key.resize(0);
            keyBegin = -1;
        }
        m_doc->danglingKey = keyBegin;
        return true;
    }

    static QString decodeString(const QByteArray &text, qsizetype begin, qsizetype end);

private:
    bool fail(qsizetype pos, const QString &message)
    {
        m_doc->error = atLine(m_text, pos, message);
        return false;
    }

    qsizetype endOfLine(qsizetype pos) const
    {
        const void *newline = std::memchr(m_d + pos, '\n', static_cast<size_t>(m_n - pos));
        return newline ? static_cast<const char *>(newline) - m_d + 1 : m_n;
    }

    QByteArray trimmed(qsizetype begin, qsizetype end) const
    {
        while (begin < end && static_cast<uchar>(m_d[begin]) <= 32)
            ++begin;
        while (end > begin && static_cast<uchar>(m_d[end - 1]) <= 32)
            --end;
        return QByteArray(m_d + begin, end - begin);
    }

    void assign(const QByteArray &section, int sectionIndex, const QByteArray &key, qsizetype keyBegin, Span span)
    {
        if (section.isEmpty() && key == "config_version") {
            bool ok = false;
            const int version = QByteArray(m_d + span.begin, span.end - span.begin).toInt(&ok);
            m_doc->configVersion = ok ? version : -1;
            return;
        }
        m_doc->assignments.append({sectionIndex, section.isEmpty() ? key : section + '/' + key, keyBegin, span});
    }

    // Whitespace and comments; false at the end of the text.
    bool skipTrivia(qsizetype &pos) const
    {
        while (pos < m_n) {
            const auto c = static_cast<uchar>(m_d[pos]);
            if (c == ';')
                pos = endOfLine(pos);
            else if (c <= 32)
                ++pos;
            else
                return true;
        }
        return false;
    }

    // At '"': past the closing quote. Raw newlines belong to the string.
    bool skipString(qsizetype &pos)
    {
        const qsizetype open = pos++;
        while (pos < m_n) {
            const char c = m_d[pos++];
            if (c == '"')
                return true;
            if (c != '\\')
                continue;
            if (pos >= m_n)
                break;
            const char next = m_d[pos++];
            if (next == 'u' || next == 'U') {
                const int digits = next == 'U' ? 6 : 4;
                for (int i = 0; i < digits; ++i, ++pos) {
                    if (pos >= m_n || !isHexDigit(static_cast<uchar>(m_d[pos])))
                        return fail(pos, QStringLiteral("malformed \\%1 escape in a string").arg(QLatin1Char(next)));
                }
            }
        }
        return fail(open, QStringLiteral("unterminated string"));
    }

    QString unexpected(qsizetype pos) const
    {
        const auto c = static_cast<uchar>(m_d[pos]);
        if (c > 32 && c < 127)
            return QStringLiteral("unexpected character \"%1\"").arg(QLatin1Char(static_cast<char>(c)));
        return QStringLiteral("unexpected byte 0x%1").arg(c, 2, 16, QLatin1Char('0'));
    }

    // One token that is not a bracket: a string, StringName (&"..."), NodePath (^"..."), colour
    // (#rrggbb), number or identifier.
    bool atom(qsizetype &pos)
    {
        const auto c = static_cast<uchar>(m_d[pos]);
        if (c == '"')
            return skipString(pos);
        if ((c == '&' || c == '^') && pos + 1 < m_n && m_d[pos + 1] == '"') {
            ++pos;
            return skipString(pos);
        }
        if (c == '#') {
            ++pos;
            while (pos < m_n && isHexDigit(static_cast<uchar>(m_d[pos])))
                ++pos;
            return true;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            ++pos;
            while (pos < m_n) {
                const auto d = static_cast<uchar>(m_d[pos]);
                const bool exponentSign = (d == '+' || d == '-') && (m_d[pos - 1] == 'e' || m_d[pos - 1] == 'E');
                if (!isIdentifierChar(d) && d != '.' && !exponentSign)
                    break;
                ++pos;
            }
            return true;
        }
        if (isIdentifierStart(c)) {
            while (pos < m_n && isIdentifierChar(static_cast<uchar>(m_d[pos])))
                ++pos;
            return true;
        }
        return fail(pos, unexpected(pos));
    }

    // At '{', '[' or '(': past the matching bracket. Inside, any sequence of tokens is taken: the
    // edits never need to look into a dictionary, an array or a constructor's arguments.
    bool group(qsizetype &pos)
    {
        char expected[s_maxDepth];
        int depth = 0;
        const qsizetype open = pos;
        while (true) {
            if (!skipTrivia(pos))
                return fail(open, QStringLiteral("\"%1\" is not closed").arg(QLatin1Char(m_d[open])));
            const char c = m_d[pos];
            if (c == '{' || c == '[' || c == '(') {
                if (depth == s_maxDepth)
                    return fail(pos, QStringLiteral("values nested too deeply"));
                expected[depth++] = c == '{' ? '}' : c == '[' ? ']' : ')';
                ++pos;
            } else if (c == '}' || c == ']' || c == ')') {
                if (depth == 0 || c != expected[depth - 1])
                    return fail(pos, unexpected(pos));
                ++pos;
                if (--depth == 0)
                    return true;
            } else if (c == ',' || c == ':' || c == '=' || c == '.') {
                ++pos;
            } else if (!atom(pos)) {
                return false;
            }
        }
    }

    // After '=': one value, whose span ends with its last byte.
    bool value(qsizetype &pos, Span *span)
    {
        if (!skipTrivia(pos))
            return fail(pos, QStringLiteral("a value is missing at the end of the text"));
        span->begin = pos;
        const auto c = static_cast<uchar>(m_d[pos]);
        if (c == '{' || c == '[') {
            if (!group(pos))
                return false;
        } else if (isIdentifierStart(c)) {
            (void)atom(pos);
            const QByteArrayView id(m_d + span->begin, pos - span->begin);
            static const QByteArrayView s_keywords[] = {"true", "false", "null", "nil", "inf", "inf_neg", "nan"};
            if (std::find(std::begin(s_keywords), std::end(s_keywords), id) == std::end(s_keywords)) {
                // A constructor: Vector2(...), PackedStringArray(...), Object(...), or a typed
                // collection such as Array[int]([...]).
                qsizetype next = pos;
                if (skipTrivia(next) && m_d[next] == '[') {
                    pos = next;
                    if (!group(pos))
                        return false;
                    next = pos;
                }
                if (!skipTrivia(next) || m_d[next] != '(')
                    return fail(span->begin, QStringLiteral("unexpected identifier \"%1\"").arg(id.toByteArray()));
                pos = next;
                if (!group(pos))
                    return false;
            }
        } else if (!atom(pos)) {
            return false;
        }
        span->end = pos;
        return true;
    }

    const QByteArray &m_text;
    const char *m_d;
    qsizetype m_n;
    Document *m_doc;
};

QString Scanner::decodeString(const QByteArray &text, qsizetype begin, qsizetype end)
{
    const char *d = text.constData();
    QString out;
    qsizetype run = begin;
    for (qsizetype i = begin; i < end; ++i) {
        if (d[i] != '\\' || i + 1 >= end)
            continue;
        out += QString::fromUtf8(d + run, i - run);
        const char next = d[++i];
        switch (next) {
        case 'b':
            out += QChar(8);
            break;
        case 't':
            out += QChar(9);
            break;
        case 'n':
            out += QChar(10);
            break;
        case 'f':
            out += QChar(12);
            break;
        case 'r':
            out += QChar(13);
            break;
        case 'u':
        case 'U': {
            const int digits = next == 'U' ? 6 : 4;
            const char32_t code = QByteArray(d + i + 1, std::min<qsizetype>(digits, end - i - 1)).toUInt(nullptr, 16);
            // Surrogate halves written one by one pair up again in UTF-16.
            if (code < 0x10000)
                out += QChar(static_cast<char16_t>(code));
            else
                out += QString::fromUcs4(&code, 1);
            i += digits;
            break;
        }
        default:
            out += QLatin1Char(next);
            break;
        }
        run = i + 1;
    }
    out += QString::fromUtf8(d + run, end - run);
    return out;
}

bool parseDocument(const QByteArray &text, Document *doc)
{
    return Scanner(text, doc).run();
}

// The span of a value that is one string, with its quotes; a StringName or NodePath prefix is taken.
std::optional<QString> stringAt(const QByteArray &text, Span span)
{
    qsizetype begin = span.begin;
    if (begin < span.end && (text.at(begin) == '&' || text.at(begin) == '^'))
        ++begin;
    if (span.end - begin < 2 || text.at(begin) != '"' || text.at(span.end - 1) != '"')
        return std::nullopt;
    return Scanner::decodeString(text, begin + 1, span.end - 1);
}

// PackedStringArray("a", "b"), its Godot 3 names, or ["a", "b"]; a trailing comma is allowed.
std::optional<QStringList> stringsAt(const QByteArray &text, Span span)
{
    const char *d = text.constData();
    qsizetype pos = span.begin;
    const auto skip = [&] {
        while (pos < span.end && (static_cast<uchar>(d[pos]) <= 32 || d[pos] == ';')) {
            if (d[pos] == ';')
                while (pos < span.end && d[pos] != '\n')
                    ++pos;
            else
                ++pos;
        }
    };
    char close = ']';
    if (d[pos] != '[') {
        qsizetype idEnd = pos;
        while (idEnd < span.end && isIdentifierChar(static_cast<uchar>(d[idEnd])))
            ++idEnd;
        const QByteArrayView id(d + pos, idEnd - pos);
        if (id != "PackedStringArray" && id != "PoolStringArray" && id != "StringArray")
            return std::nullopt;
        pos = idEnd;
        skip();
        if (pos >= span.end || d[pos] != '(')
            return std::nullopt;
        close = ')';
    }
    ++pos;
    QStringList list;
    bool needComma = false;
    while (true) {
        skip();
        if (pos >= span.end)
            return std::nullopt;
        if (d[pos] == close)
            return pos + 1 == span.end ? std::optional<QStringList>(list) : std::nullopt;
        if (needComma) {
            if (d[pos] != ',')
                return std::nullopt;
            ++pos;
            needComma = false;
            continue;
        }
        if (d[pos] != '"')
            return std::nullopt;
        const qsizetype begin = pos++;
        while (pos < span.end && d[pos] != '"')
            pos += d[pos] == '\\' ? 2 : 1;
        if (pos >= span.end)
            return std::nullopt;
        ++pos;
        list << Scanner::decodeString(text, begin + 1, pos - 1);
        needComma = true;
    }
}

QByteArray quoted(const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return '"' + escaped.toUtf8() + '"';
}

// As Godot writes the list: Godot 4's PackedStringArray("a", "b"), or Godot 3's
// PoolStringArray( "a", "b" ) in a Godot 3 project, which could not read the former.
QByteArray render(const QStringList &list, bool godot3)
{
    QByteArray out = godot3 ? "PoolStringArray( " : "PackedStringArray(";
    for (qsizetype i = 0; i < list.size(); ++i)
        out += (i ? ", " : "") + quoted(list.at(i));
    out += godot3 ? " )" : ")";
    return out;
}

QString bareName(const QString &plugin)
{
    const qsizetype slash = plugin.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? plugin : plugin.left(slash).section(QLatin1Char('/'), -1);
}

// Line arithmetic on the raw bytes for the edit.
class Lines
{
public:
    explicit Lines(const QByteArray &text) : m_text(text)
    {
        const qsizetype newline = text.indexOf('\n');
        m_eol = newline > 0 && text.at(newline - 1) == '\r' ? "\r\n" : "\n";
    }

    [[nodiscard]] QByteArray eol() const { return m_eol; }
    [[nodiscard]] qsizetype size() const { return m_text.size(); }

    [[nodiscard]] qsizetype lineStart(qsizetype pos) const
    {
        return pos <= 0 ? 0 : m_text.lastIndexOf('\n', pos - 1) + 1;
    }
    // One past the line's '\n', or the end of the text.
    [[nodiscard]] qsizetype nextLine(qsizetype pos) const
    {
        const qsizetype newline = m_text.indexOf('\n', pos);
        return newline < 0 ? m_text.size() : newline + 1;
    }
    [[nodiscard]] bool onlySpaceBefore(qsizetype pos) const
    {
        for (qsizetype i = lineStart(pos); i < pos; ++i) {
            if (!isInlineSpace(static_cast<uchar>(m_text.at(i))))
                return false;
        }
        return true;
    }
    // Nothing but spaces and perhaps a comment from pos to the end of its line.
    [[nodiscard]] bool onlyTriviaAfter(qsizetype pos) const
    {
        for (; pos < m_text.size() && m_text.at(pos) != '\n'; ++pos) {
            if (m_text.at(pos) == ';')
                return true;
            if (!isInlineSpace(static_cast<uchar>(m_text.at(pos))))
                return false;
        }
        return true;
    }
    // The line starting at pos holds nothing but spaces (at the end of the text: false).
    [[nodiscard]] bool blankLineAt(qsizetype pos) const { return pos < m_text.size() && onlyTriviaAfterNoComment(pos); }
    [[nodiscard]] bool isCommentLine(qsizetype start) const
    {
        qsizetype pos = start;
        while (pos < m_text.size() && isInlineSpace(static_cast<uchar>(m_text.at(pos))))
            ++pos;
        return pos < m_text.size() && m_text.at(pos) == ';';
    }
    [[nodiscard]] bool endsWithBlankLine() const
    {
        if (!m_text.endsWith('\n'))
            return false;
        return onlyTriviaAfterNoComment(lineStart(m_text.size() - 1));
    }

private:
    [[nodiscard]] bool onlyTriviaAfterNoComment(qsizetype pos) const
    {
        for (; pos < m_text.size() && m_text.at(pos) != '\n'; ++pos) {
            if (!isInlineSpace(static_cast<uchar>(m_text.at(pos))))
                return false;
        }
        return true;
    }

    const QByteArray &m_text;
    QByteArray m_eol;
};

QByteArray replaced(const QByteArray &text, qsizetype begin, qsizetype end, const QByteArray &with)
{
    QByteArray out;
    out.reserve(text.size() - (end - begin) + with.size());
    out.append(text.constData(), begin).append(with).append(text.constData() + end, text.size() - end);
    return out;
}

} // namespace

bool GodotConfigEdit::Parsed::has(const QString &setting) const
{
    return values.contains(setting.toUtf8());
}

std::optional<QString> GodotConfigEdit::Parsed::string(const QString &setting) const
{
    const auto it = values.constFind(setting.toUtf8());
    return it == values.cend() ? std::nullopt : stringAt(text, *it);
}

std::optional<QStringList> GodotConfigEdit::Parsed::strings(const QString &setting) const
{
    const auto it = values.constFind(setting.toUtf8());
    return it == values.cend() ? std::nullopt : stringsAt(text, *it);
}

std::optional<bool> GodotConfigEdit::Parsed::boolean(const QString &setting) const
{
    const auto it = values.constFind(setting.toUtf8());
    if (it == values.cend())
        return std::nullopt;
    const QByteArrayView value(text.constData() + it->begin, it->end - it->begin);
    if (value == "true" || value == "false")
        return value == "true";
    return std::nullopt;
}

GodotConfigEdit::Parsed GodotConfigEdit::parse(const QByteArray &text)
{
    Parsed parsed;
    parsed.text = text;
    Document doc;
    parsed.ok = parseDocument(text, &doc);
    parsed.error = doc.error;
    parsed.configVersion = doc.configVersion;
    if (!parsed.ok)
        return parsed;
    parsed.values.reserve(doc.assignments.size());
    for (const Assignment &assignment : std::as_const(doc.assignments))
        parsed.values.insert(assignment.name, assignment.value);
    for (const Section &section : std::as_const(doc.sections)) {
        const QString name = QString::fromUtf8(section.name);
        if (!parsed.sections.contains(name))
            parsed.sections << name;
    }
    return parsed;
}

bool GodotConfigEdit::lists(const QStringList &enabled, const QString &plugin)
{
    return enabled.contains(plugin) || enabled.contains(bareName(plugin));
}

std::optional<QByteArray> GodotConfigEdit::setPluginEnabled(const QByteArray &text, const QString &plugin, bool enabled,
                                                            QString *error)
{
    Document doc;
    if (!parseDocument(text, &doc)) {
        if (error)
            *error = doc.error;
        return std::nullopt;
    }
    // The last assignment is the one Godot keeps.
    const Assignment *found = nullptr;
    for (const Assignment &assignment : std::as_const(doc.assignments)) {
        if (assignment.name == s_pluginsSetting)
            found = &assignment;
    }
    QStringList list;
    if (found) {
        const std::optional<QStringList> current = stringsAt(text, found->value);
        if (!current) {
            if (error)
                *error = atLine(text, found->value.begin,
                                QStringLiteral("the list of enabled plugins is not a list of strings"));
            return std::nullopt;
        }
        list = *current;
    }
    if (lists(list, plugin) == enabled)
        return text;

    if (enabled) {
        list << plugin;
    } else {
        list.removeAll(plugin);
        list.removeAll(bareName(plugin));
    }
    std::sort(list.begin(), list.end(), [](const QString &a, const QString &b) { return a.compare(b) < 0; });
    const bool godot3 = doc.configVersion >= 0 && doc.configVersion < 5;
    const Lines lines(text);
    const QByteArray eol = lines.eol();

    if (found && !list.isEmpty())
        return replaced(text, found->value.begin, found->value.end, render(list, godot3));

    if (found) {
        const bool alone = found->section >= 0 && doc.sections.at(found->section).name == s_pluginsSection &&
                           std::count_if(doc.assignments.cbegin(), doc.assignments.cend(),
                                         [&](const Assignment &a) { return a.section == found->section; }) == 1;
        const bool ownLine = lines.onlySpaceBefore(found->keyBegin) && lines.onlyTriviaAfter(found->value.end);
        if (alone) {
            // The whole section, with the blank lines after it; at the end of the text, with the
            // blank lines before it instead.
            const Section &section = doc.sections.at(found->section);
            qsizetype begin = lines.onlySpaceBefore(section.begin) ? lines.lineStart(section.begin) : section.begin;
            qsizetype end = found->value.end;
            if (lines.onlyTriviaAfter(end)) {
                end = lines.nextLine(end);
                while (lines.blankLineAt(end))
                    end = lines.nextLine(end);
            }
            if (end == lines.size()) {
                while (begin > 0) {
                    const qsizetype previous = lines.lineStart(begin - 1);
                    if (!lines.blankLineAt(previous))
                        break;
                    begin = previous;
                }
            }
            return replaced(text, begin, end, {});
        }
        if (ownLine)
            return replaced(text, lines.lineStart(found->keyBegin), lines.nextLine(found->value.end), {});
        return replaced(text, found->value.begin, found->value.end, render(list, godot3));
    }

    const QByteArray assignment = "enabled=" + render(list, godot3);
    // A section already there, without the list: the list goes under its header.
    for (qsizetype i = doc.sections.size() - 1; i >= 0; --i) {
        const Section &section = doc.sections.at(i);
        if (section.name != s_pluginsSection)
            continue;
        qsizetype at = lines.nextLine(section.end);
        QByteArray before;
        if (at == lines.size() && !text.endsWith('\n'))
            before += eol;
        if (lines.blankLineAt(at))
            at = lines.nextLine(at);
        else
            before += eol;
        const QByteArray after = eol + (at < lines.size() && !lines.blankLineAt(at) ? eol : QByteArray());
        return replaced(text, at, at, before + assignment + after);
    }

    // A new section, before the first one that sorts after it, as Godot orders them.
    const QByteArray block = "[editor_plugins]" + eol + eol + assignment + eol;
    for (const Section &section : std::as_const(doc.sections)) {
        if (QString::fromUtf8(section.name).compare(QString::fromUtf8(s_pluginsSection)) <= 0)
            continue;
        qsizetype at = section.begin;
        if (lines.onlySpaceBefore(at)) {
            at = lines.lineStart(at);
            // Comment lines right above a header belong to it.
            while (at > 0 && lines.isCommentLine(lines.lineStart(at - 1)))
                at = lines.lineStart(at - 1);
        }
        return replaced(text, at, at, block + eol);
    }
    if (doc.danglingKey >= 0) {
        if (error)
            *error = atLine(text, doc.danglingKey, QStringLiteral("the text ends with a key that has no value"));
        return std::nullopt;
    }
    QByteArray out = text;
    if (!out.isEmpty() && !out.endsWith('\n'))
        out += eol;
    if (!out.isEmpty() && !lines.endsWithBlankLine())
        out += eol;
    return out + block;
}
