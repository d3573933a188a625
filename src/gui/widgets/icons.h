#pragma once

#include <QByteArray>
#include <QList>
#include <QPainter>
#include <QPair>
#include <QPixmap>
#include <QPixmapCache>
#include <QString>
#include <QSvgRenderer>
#include <QtMath>

// Line-drawn icons as inline SVG documents. Their stroke colour is "currentColor", which
// icon() replaces, so one drawing serves in every colour.
namespace Icons {

inline const QByteArray FOLDER =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><path d="M22 19a2 2 0 0 1-2 2H4a2 2 0 0 1-2-2V5a2 2 0 0 1 2-2h5l2 3h9a2 2 0 0 1 2 2z"/></svg>)";

inline const QByteArray FOLDER_PLUS =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><path d="M22 19a2 2 0 0 1-2 2H4a2 2 0 0 1-2-2V5a2 2 0 0 1 2-2h5l2 3h9a2 2 0 0 1 2 2z"/><line x1="12" y1="11" x2="12" y2="17"/><line x1="9" y1="14" x2="15" y2="14"/></svg>)";

inline const QByteArray CHECK_CIRCLE =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><path d="M22 11.08V12a10 10 0 1 1-5.93-9.14"/><polyline points="22 4 12 14.01 9 11.01"/></svg>)";

inline const QByteArray X_CIRCLE =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><circle cx="12" cy="12" r="10"/><line x1="15" y1="9" x2="9" y2="15"/><line x1="9" y1="9" x2="15" y2="15"/></svg>)";

inline const QByteArray BOX =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><path d="M21 16V8a2 2 0 0 0-1-1.73l-7-4a2 2 0 0 0-2 0l-7 4A2 2 0 0 0 3 8v8a2 2 0 0 0 1 1.73l7 4a2 2 0 0 0 2 0l7-4A2 2 0 0 0 21 16z"/><polyline points="3.27 6.96 12 12.01 20.73 6.96"/><line x1="12" y1="22.08" x2="12" y2="12"/></svg>)";

inline const QByteArray CODE =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><polyline points="16 18 22 12 16 6"/><polyline points="8 6 2 12 8 18"/></svg>)";

inline const QByteArray MONITOR =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><rect x="2" y="3" width="20" height="14" rx="2" ry="2"/><line x1="8" y1="21" x2="16" y2="21"/><line x1="12" y1="17" x2="12" y2="21"/></svg>)";

inline const QByteArray TERMINAL =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><polyline points="4 17 10 11 4 5"/><line x1="12" y1="19" x2="20" y2="19"/></svg>)";

inline const QByteArray WIND =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><path d="M9.59 4.59A2 2 0 1 1 11 8H2m10.59 11.41A2 2 0 1 0 14 16H2m15.73-8.27A2.5 2.5 0 1 1 19.5 12H2"/></svg>)";

inline const QByteArray ZAP =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><polygon points="13 2 3 14 12 14 11 22 21 10 12 10 13 2"/></svg>)";

// An editor window with code in it.
inline const QByteArray EDITOR =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><rect x="3" y="4" width="18" height="16" rx="2"/><line x1="3" y1="8" x2="21" y2="8"/><polyline points="10 11.5 7.5 14 10 16.5"/><polyline points="14 11.5 16.5 14 14 16.5"/></svg>)";

// A framed command prompt.
inline const QByteArray PROMPT =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><rect x="2" y="4" width="20" height="16" rx="2"/><polyline points="6 9 9 12 6 15"/><line x1="12" y1="15" x2="17" y2="15"/></svg>)";

// A four-pointed star.
inline const QByteArray SPARKLE =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><path d="M12 3c.6 4.8 4.2 8.4 9 9-4.8.6-8.4 4.2-9 9-.6-4.8-4.2-8.4-9-9 4.8-.6 8.4-4.2 9-9z"/></svg>)";

// A hexagon around a ring.
inline const QByteArray HEXAGON =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><polygon points="12 2 20.66 7 20.66 17 12 22 3.34 17 3.34 7"/><circle cx="12" cy="12" r="3.5"/></svg>)";

// Curly braces.
inline const QByteArray BRACKETS =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><path d="M9 4H8a2 2 0 0 0-2 2v4l-2 2 2 2v4a2 2 0 0 0 2 2h1"/><path d="M15 4h1a2 2 0 0 1 2 2v4l2 2-2 2v4a2 2 0 0 1-2 2h-1"/></svg>)";

// A zigzag stroke in a frame.
inline const QByteArray BOLT =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><rect x="3" y="3" width="18" height="18" rx="3"/><polyline points="8 8 16 8 8 16 16 16"/></svg>)";

// Two stacked server units, for the MCP server.
inline const QByteArray SERVER =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><rect x="3" y="3" width="18" height="7" rx="2"/><rect x="3" y="14" width="18" height="7" rx="2"/><line x1="7" y1="6.5" x2="7.01" y2="6.5"/><line x1="7" y1="17.5" x2="7.01" y2="17.5"/><line x1="12" y1="6.5" x2="17" y2="6.5"/><line x1="12" y1="17.5" x2="17" y2="17.5"/></svg>)";

// The drawing behind an icon key of the client catalogue; keys without one of their own get CODE.
inline const QByteArray &forKey(const QString &key)
{
    static const QList<QPair<QString, const QByteArray *>> s_keys{
        {QStringLiteral("terminal"), &TERMINAL}, {QStringLiteral("monitor"), &MONITOR},
        {QStringLiteral("code"), &CODE},         {QStringLiteral("wind"), &WIND},
        {QStringLiteral("zap"), &ZAP},           {QStringLiteral("box"), &BOX},
        {QStringLiteral("editor"), &EDITOR},     {QStringLiteral("prompt"), &PROMPT},
        {QStringLiteral("sparkle"), &SPARKLE},   {QStringLiteral("hexagon"), &HEXAGON},
        {QStringLiteral("brackets"), &BRACKETS}, {QStringLiteral("bolt"), &BOLT},
    };
    for (const auto &[name, drawing] : s_keys) {
        if (name == key)
            return *drawing;
    }
    return CODE;
}

// A laptop: it stands for the editor addon.
inline const QByteArray LAPTOP =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><path d="M20 16V7a2 2 0 0 0-2-2H6a2 2 0 0 0-2 2v9m16 0H4m16 0 1.28 2.55a1 1 0 0 1-.9 1.45H3.62a1 1 0 0 1-.9-1.45L4 16"/></svg>)";

inline const QByteArray GEAR =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><circle cx="12" cy="12" r="3"/><path d="M19.4 15a1.65 1.65 0 0 0 .33 1.82l.06.06a2 2 0 0 1-2.83 2.83l-.06-.06a1.65 1.65 0 0 0-1.82-.33 1.65 1.65 0 0 0-1 1.51V21a2 2 0 0 1-4 0v-.09a1.65 1.65 0 0 0-1.08-1.51 1.65 1.65 0 0 0-1.82.33l-.06.06a2 2 0 0 1-2.83-2.83l.06-.06A1.65 1.65 0 0 0 4.68 15a1.65 1.65 0 0 0-1.51-1H3a2 2 0 0 1 0-4h.09A1.65 1.65 0 0 0 4.6 9a1.65 1.65 0 0 0-.33-1.82l-.06-.06a2 2 0 0 1 2.83-2.83l.06.06A1.65 1.65 0 0 0 9 4.68a1.65 1.65 0 0 0 1-1.51V3a2 2 0 0 1 4 0v.09a1.65 1.65 0 0 0 1 1.51 1.65 1.65 0 0 0 1.82-.33l.06-.06a2 2 0 0 1 2.83 2.83l-.06.06a1.65 1.65 0 0 0-.33 1.82V9c.26.604.852.997 1.51 1H21a2 2 0 0 1 0 4h-.09a1.65 1.65 0 0 0-1.51 1z"/></svg>)";

inline const QByteArray WRENCH =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><path d="M14.7 6.3a1 1 0 0 0 0 1.4l1.6 1.6a1 1 0 0 0 1.4 0l3.77-3.77a6 6 0 0 1-7.94 7.94l-6.91 6.91a2.12 2.12 0 0 1-3-3l6.91-6.91a6 6 0 0 1 7.94-7.94l-3.76 3.76z"/></svg>)";

inline const QByteArray CLOSE =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" xmlns="http://www.w3.org/2000/svg"><path d="M6 6l12 12M18 6L6 18"/></svg>)";

// A square with an arrow leaving it: opens something in another program.
inline const QByteArray LAUNCH =
    R"(<svg viewBox="0 0 24 24" fill="none" stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round" xmlns="http://www.w3.org/2000/svg"><path d="M18 13v6a2 2 0 0 1-2 2H5a2 2 0 0 1-2-2V8a2 2 0 0 1 2-2h6"/><polyline points="15 3 21 3 21 9"/><line x1="10" y1="14" x2="21" y2="3"/></svg>)";

// Every drawing, by name.
inline QList<QPair<const char *, const QByteArray *>> all()
{
    return {{"FOLDER", &FOLDER},
            {"FOLDER_PLUS", &FOLDER_PLUS},
            {"CHECK_CIRCLE", &CHECK_CIRCLE},
            {"X_CIRCLE", &X_CIRCLE},
            {"BOX", &BOX},
            {"CODE", &CODE},
            {"MONITOR", &MONITOR},
            {"TERMINAL", &TERMINAL},
            {"WIND", &WIND},
            {"ZAP", &ZAP},
            {"EDITOR", &EDITOR},
            {"PROMPT", &PROMPT},
            {"SPARKLE", &SPARKLE},
            {"HEXAGON", &HEXAGON},
            {"BRACKETS", &BRACKETS},
            {"BOLT", &BOLT},
            {"SERVER", &SERVER},
            {"LAPTOP", &LAPTOP},
            {"GEAR", &GEAR},
            {"WRENCH", &WRENCH},
            {"CLOSE", &CLOSE},
            {"LAUNCH", &LAUNCH}};
}

// Recolours an icon ("currentColor" -> colour; an empty colour leaves it) and renders it onto a
// transparent size x size pixmap of logical pixels at the given device pixel ratio, so it stays
// sharp on scaled screens (pass the target widget's devicePixelRatio()). Renders afresh on every
// call.
inline QPixmap icon(const QByteArray &svg, const QString &colour, int size, qreal devicePixelRatio = 1.0)
{
    QByteArray data = svg;
    if (!colour.isEmpty())
        data.replace("currentColor", colour.toUtf8());
    QSvgRenderer renderer(data);
    const int pixels = qCeil(size * devicePixelRatio);
    QPixmap pixmap(pixels, pixels);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.end();
    return pixmap;
}

// icon(), kept in Qt's pixmap cache: every client card shows one of a few drawings, and the
// prerequisite rows the same two. The cache owns the pixmaps and is emptied with the application.
inline QPixmap cached(const QByteArray &svg, const QString &colour, int size, qreal devicePixelRatio = 1.0)
{
    const QString key = QLatin1String("icons|") + QString::number(quintptr(svg.constData())) + QLatin1Char('|') +
                        colour + QLatin1Char('|') + QString::number(size) + QLatin1Char('@') +
                        QString::number(devicePixelRatio);
    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        pixmap = icon(svg, colour, size, devicePixelRatio);
        QPixmapCache::insert(key, pixmap);
    }
    return pixmap;
}

} // namespace Icons
