#include "cli/unifieddiff.h"

#include <QList>

#include <algorithm>

#include <vector>

namespace {

QList<QByteArray> lines(const QByteArray &text)
{
    QList<QByteArray> result;
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype end = text.indexOf('\n', start);
        if (end < 0) {
            result << text.mid(start);
            break;
        }
        result << text.mid(start, end - start + 1);
        start = end + 1;
    }
    return result;
}

enum class Op : char { Same = ' ', Removed = '-', Added = '+' };

struct Edit
{
    Op op;
    qsizetype before; // line index in the old text (Same, Removed)
    qsizetype after;  // line index in the new text (Same, Added)
};

// The edit script by longest common subsequence over the part between the common head and tail:
// our edits touch a few lines of a file, so that part stays small even in a large file.
std::vector<Edit> editScript(const QList<QByteArray> &a, const QList<QByteArray> &b)
{
    qsizetype head = 0;
    while (head < a.size() && head < b.size() && a.at(head) == b.at(head))
        ++head;
    qsizetype tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a.at(a.size() - 1 - tail) == b.at(b.size() - 1 - tail))
        ++tail;
    const qsizetype n = a.size() - head - tail;
    const qsizetype m = b.size() - head - tail;
    // lcs[i][j]: the common length of a[head+i..] and b[head+j..] within the middle part.
    std::vector<std::vector<int>> lcs(size_t(n + 1), std::vector<int>(size_t(m + 1), 0));
    for (qsizetype i = n - 1; i >= 0; --i) {
        for (qsizetype j = m - 1; j >= 0; --j) {
            lcs[size_t(i)][size_t(j)] = a.at(head + i) == b.at(head + j)
                                            ? lcs[size_t(i + 1)][size_t(j + 1)] + 1
                                            : std::max(lcs[size_t(i + 1)][size_t(j)], lcs[size_t(i)][size_t(j + 1)]);
        }
    }
    std::vector<Edit> script;
    for (qsizetype k = 0; k < head; ++k)
        script.push_back({Op::Same, k, k});
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && a.at(head + i) == b.at(head + j)) {
            script.push_back({Op::Same, head + i, head + j});
            ++i;
            ++j;
        } else if (j < m && (i == n || lcs[size_t(i)][size_t(j + 1)] >= lcs[size_t(i + 1)][size_t(j)])) {
            script.push_back({Op::Added, -1, head + j});
            ++j;
        } else {
            script.push_back({Op::Removed, head + i, -1});
            ++i;
        }
    }
    for (qsizetype k = 0; k < tail; ++k)
        script.push_back({Op::Same, head + n + k, head + m + k});
    // Removals before additions within each run of changes, as diff prints them.
    for (size_t k = 0; k < script.size();) {
        size_t end = k;
        while (end < script.size() && script[end].op != Op::Same)
            ++end;
        std::stable_partition(script.begin() + qptrdiff(k), script.begin() + qptrdiff(end),
                              [](const Edit &e) { return e.op == Op::Removed; });
        k = end == k ? k + 1 : end;
    }
    return script;
}

// "start,count" as a hunk header gives it: the line before the hunk when it has no lines.
QString range(qsizetype first, qsizetype count)
{
    const qsizetype start = count == 0 ? first : first + 1;
    return count == 1 ? QString::number(start) : QStringLiteral("%1,%2").arg(start).arg(count);
}

} // namespace

namespace UnifiedDiff {

QString make(const QByteArray &before, const QByteArray &after, const QString &fromLabel, const QString &toLabel,
             int context)
{
    if (before == after)
        return {};
    const QList<QByteArray> a = lines(before);
    const QList<QByteArray> b = lines(after);
    const std::vector<Edit> script = editScript(a, b);

    QString text = QStringLiteral("--- %1\n+++ %2\n").arg(fromLabel, toLabel);
    const auto size = qsizetype(script.size());
    qsizetype k = 0;
    while (k < size) {
        while (k < size && script[size_t(k)].op == Op::Same)
            ++k;
        if (k == size)
            break;
        // The hunk: from `context` lines before this change to `context` lines after the last
        // change that is no more than 2 * context unchanged lines away.
        const qsizetype first = std::max<qsizetype>(0, k - context);
        qsizetype last = k;
        qsizetype scan = k;
        while (scan < size) {
            if (script[size_t(scan)].op != Op::Same) {
                last = scan;
            } else if (scan - last > 2 * qsizetype(context)) {
                break;
            }
            ++scan;
        }
        const qsizetype end = std::min(size, last + 1 + context);
        qsizetype oldStart = -1;
        qsizetype newStart = -1;
        qsizetype oldCount = 0;
        qsizetype newCount = 0;
        QString body;
        for (qsizetype e = first; e < end; ++e) {
            const Edit &edit = script[size_t(e)];
            const QByteArray &line = edit.op == Op::Added ? b.at(edit.after) : a.at(edit.before);
            if (edit.op != Op::Added) {
                if (oldStart < 0)
                    oldStart = edit.before;
                ++oldCount;
            }
            if (edit.op != Op::Removed) {
                if (newStart < 0)
                    newStart = edit.after;
                ++newCount;
            }
            body += QChar::fromLatin1(char(edit.op)) + QString::fromUtf8(line);
            if (!line.endsWith('\n'))
                body += QLatin1String("\n\\ No newline at end of file\n");
        }
        // A side with no lines starts where its previous line is.
        if (oldStart < 0)
            oldStart = first < size && script[size_t(first)].before >= 0 ? script[size_t(first)].before : 0;
        if (newStart < 0)
            newStart = first < size && script[size_t(first)].after >= 0 ? script[size_t(first)].after : 0;
        text += QStringLiteral("@@ -%1 +%2 @@\n").arg(range(oldStart, oldCount), range(newStart, newCount)) + body;
        k = end;
    }
    return text;
}

} // namespace UnifiedDiff
