#include "toast.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QTimer>

void Toast::show(QWidget *parent, const QString &text, Toast::Type type, int ms)
{
    auto *toast = new Toast(parent, text, type, ms);
    // The static show() hides the widget's own; the newest child is drawn on top.
    toast->QLabel::show();
}

Toast::Toast(QWidget *parent, const QString &text, Toast::Type type, int ms) : QLabel(text, parent)
{
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);

    QString background = QStringLiteral("rgba(22,27,34,0.95)");
    QString foreground = QStringLiteral("#e0e4ea");
    switch (type) {
    case Success:
        background = QStringLiteral("rgba(45,190,120,0.95)");
        foreground = QStringLiteral("#ffffff");
        break;
    case Error:
        background = QStringLiteral("rgba(229,83,75,0.95)");
        foreground = QStringLiteral("#ffffff");
        break;
    default:
        break;
    }
    setStyleSheet(QStringLiteral("padding: 12px 24px; border-radius: 8px; font-size: 13px; font-weight: 600;"
                                 "background: %1; color: %2; border: 1px solid rgba(255,255,255,0.1);")
                      .arg(background, foreground));
    adjustSize();

    // Placed once: a toast lives for a few seconds and does not follow resizes.
    move((parent->width() - width()) / 2, parent->height() - height() - 32);

    auto *effect = new QGraphicsOpacityEffect(this);
    effect->setOpacity(1.0);
    setGraphicsEffect(effect);

    QTimer::singleShot(ms, this, [this] { fadeOut(); });
}

void Toast::fadeOut()
{
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(graphicsEffect());
    if (!effect) {
        deleteLater();
        return;
    }
    auto *animation = new QPropertyAnimation(effect, "opacity", this);
    animation->setDuration(300);
    animation->setStartValue(1.0);
    animation->setEndValue(0.0);
    connect(animation, &QPropertyAnimation::finished, this, &QObject::deleteLater);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}
