#include "gui/widgets/toast.h"

#include "gui/widgets/theme.h"

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {
constexpr int s_bottomMargin = 32;
constexpr int s_topMargin = 8;
constexpr int s_sideMargin = 24;
constexpr int s_gap = 8;
quint64 s_lastOrder = 0;
} // namespace

Toast *Toast::showWithAction(QWidget *parent, const QString &text, Toast::Type type, int ms, const QString &actionText,
                             const std::function<void()> &action)
{
    auto *toast = new Toast(parent, QString(), type, ms);
    toast->m_action = action;
    // The link's colour is the theme's: a label's links do not follow the style sheet.
    toast->setTextFormat(Qt::RichText);
    toast->setText(
        QStringLiteral("%1&nbsp;&nbsp;&nbsp;<a href=\"action\" style=\"color: %2;\">%3</a>")
            .arg(text.toHtmlEscaped(), QLatin1String(Theme::Palette::AccentLight), actionText.toHtmlEscaped()));
    toast->setAccessibleName(text + QLatin1Char(' ') + actionText);
    toast->setCursor(Qt::ArrowCursor);
    connect(toast, &QLabel::linkActivated, toast, [toast] {
        if (toast->m_done)
            return;
        const std::function<void()> run = std::exchange(toast->m_action, {});
        toast->m_timer->stop();
        toast->finish();
        if (run)
            run();
    });
    toast->fitText(std::min(MaxWidth, parent->width() - 2 * s_sideMargin));
    arrange(parent);
    return toast;
}

void Toast::dismiss(QWidget *parent, const QString &key)
{
    if (key.isEmpty())
        return;
    bool gone = false;
    for (Toast *old : parent->findChildren<Toast *>(Qt::FindDirectChildrenOnly)) {
        if (old->m_key == key && !old->m_done) {
            old->m_done = true; // at once, not faded: a successor takes its place
            old->hide();
            old->deleteLater();
            gone = true;
        }
    }
    if (gone)
        arrange(parent);
}

Toast *Toast::show(QWidget *parent, const QString &text, Toast::Type type, int ms, const QString &key)
{
    dismiss(parent, key);
    auto *toast = new Toast(parent, text, type, ms);
    toast->m_key = key;
    arrange(parent);
    return toast;
}

Toast::Toast(QWidget *parent, const QString &text, Toast::Type type, int ms)
    : QLabel(text, parent), m_timer(new QTimer(this)), m_order(++s_lastOrder)
{
    setAlignment(Qt::AlignCenter);
    setCursor(Qt::PointingHandCursor); // a click dismisses it

    // Its colours are the theme's; anything unknown shows as information.
    setProperty("kind", type == Success ? QStringLiteral("success")
                        : type == Error ? QStringLiteral("error")
                                        : QStringLiteral("info"));
    Theme::setClass(this, "toast");
    fitText(std::min(MaxWidth, parent->width() - 2 * s_sideMargin));

    m_timer->setObjectName(QStringLiteral("toastTimer"));
    m_timer->setSingleShot(true);
    m_timer->setInterval(type == Error ? std::max(ms, MinErrorMs) : ms);
    connect(m_timer, &QTimer::timeout, this, &Toast::fadeOut);

    auto *effect = new QGraphicsOpacityEffect(this);
    effect->setOpacity(1.0);
    setGraphicsEffect(effect);
}

// One line where the text fits; otherwise wrapped at the widest width allowed, as tall as the
// lines need. (adjustSize() on a wrapping label guesses a shape and can cut lines off.)
void Toast::fitText(int maxWidth)
{
    ensurePolished(); // the theme's padding and font are part of the size
    setWordWrap(false);
    const QSize oneLine = sizeHint();
    if (oneLine.width() <= maxWidth || maxWidth <= 0) {
        resize(oneLine);
        return;
    }
    setWordWrap(true);
    resize(maxWidth, heightForWidth(maxWidth));
}

void Toast::mousePressEvent(QMouseEvent *event)
{
    QLabel::mousePressEvent(event);
    if (!m_action && m_started && !m_done && m_timer->isActive()) {
        m_timer->stop();
        fadeOut();
    }
}

// Lays out the parent's toasts from the bottom up in the order they were asked for, and starts
// waiting ones while there is room. Positions are set here only: a toast does not follow resizes.
// The stack sits above the control that has the focus where that control is in the way, so that
// the answer to a click does not hide the button clicked.
void Toast::arrange(QWidget *parent)
{
    // In the order asked for: the parent's list of children changes as toasts are raised.
    QList<Toast *> toasts = parent->findChildren<Toast *>(Qt::FindDirectChildrenOnly);
    std::sort(toasts.begin(), toasts.end(), [](const Toast *a, const Toast *b) { return a->m_order < b->m_order; });
    int bottom = parent->height() - s_bottomMargin;
    const QWidget *focus = QApplication::focusWidget();
    if (focus && parent->isAncestorOf(focus) && focus->isVisible()) {
        const QRect used(focus->mapTo(parent, QPoint(0, 0)), focus->size());
        int widest = 0, tallest = 0;
        for (const Toast *toast : std::as_const(toasts)) {
            if (!toast->m_done) {
                widest = std::max(widest, toast->width());
                tallest = std::max(tallest, toast->height());
            }
        }
        const QRect lane((parent->width() - widest) / 2, bottom - tallest, widest, tallest);
        const int above = used.top() - s_gap;
        if (lane.intersects(used) && above - tallest >= s_topMargin)
            bottom = above;
    }
    int shown = 0;
    for (Toast *toast : std::as_const(toasts)) {
        if (toast->m_done)
            continue;
        if (!toast->m_started) {
            const bool room = shown == 0 || (shown < MaxShown && bottom - toast->height() >= s_topMargin);
            if (!room)
                break; // it and every later one wait, so they come in order
            toast->start();
        }
        toast->move((parent->width() - toast->width()) / 2, bottom - toast->height());
        bottom -= toast->height() + s_gap;
        ++shown;
    }
}

void Toast::start()
{
    m_started = true;
    QLabel::show();
    raise();
    m_timer->start();
}

void Toast::fadeOut()
{
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(graphicsEffect());
    if (!effect) {
        finish();
        return;
    }
    auto *animation = new QPropertyAnimation(effect, "opacity", this);
    animation->setDuration(300);
    animation->setStartValue(1.0);
    animation->setEndValue(0.0);
    connect(animation, &QPropertyAnimation::finished, this, &Toast::finish);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void Toast::finish()
{
    if (m_done)
        return;
    m_done = true;
    hide();
    if (QWidget *parent = parentWidget())
        arrange(parent);
    deleteLater();
}
