#include "gui/widgets/toast.h"

#include "gui/widgets/theme.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {
constexpr int s_bottomMargin = 32;
constexpr int s_topMargin = 8;
constexpr int s_gap = 8;
quint64 s_lastOrder = 0;
} // namespace

void Toast::show(QWidget *parent, const QString &text, Toast::Type type, int ms)
{
    new Toast(parent, text, type, ms);
    arrange(parent);
}

Toast::Toast(QWidget *parent, const QString &text, Toast::Type type, int ms)
    : QLabel(text, parent), m_ms(ms), m_order(++s_lastOrder)
{
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);

    // Its colours are the theme's; anything unknown shows as information.
    setProperty("kind", type == Success ? QStringLiteral("success")
                        : type == Error ? QStringLiteral("error")
                                        : QStringLiteral("info"));
    Theme::setClass(this, "toast");
    adjustSize();

    auto *effect = new QGraphicsOpacityEffect(this);
    effect->setOpacity(1.0);
    setGraphicsEffect(effect);
}

// Lays out the parent's toasts from the bottom up in the order they were asked for, and starts
// waiting ones while there is room. Positions are set here only: a toast does not follow resizes.
void Toast::arrange(QWidget *parent)
{
    // In the order asked for: the parent's list of children changes as toasts are raised.
    QList<Toast *> toasts = parent->findChildren<Toast *>(Qt::FindDirectChildrenOnly);
    std::sort(toasts.begin(), toasts.end(), [](const Toast *a, const Toast *b) { return a->m_order < b->m_order; });
    int bottom = parent->height() - s_bottomMargin;
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
    QTimer::singleShot(m_ms, this, [this] { fadeOut(); });
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
    m_done = true;
    hide();
    if (QWidget *parent = parentWidget())
        arrange(parent);
    deleteLater();
}
