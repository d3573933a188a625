#pragma once

#include <QLabel>

#include <functional>

class QTimer;

// A short message floating over the bottom centre of a widget: opaque for a while, then fades
// out over 300 ms and deletes itself; a click dismisses it at once. Fire and forget. Toasts shown
// while others are up stack upwards, oldest at the bottom, so that each stays readable for its
// whole time; when the stack is full, newer ones wait their turn. A toast is as wide as its text
// up to MaxWidth, then wraps and grows in height.
class Toast : public QLabel
{
    Q_OBJECT
public:
    // Fixed underlying type: pages pass the type as a plain int, and any value must be
    // representable (unknown values are shown as Info). The values keep their meaning.
    enum Type : int { Info = 0, Success = 1, Error = 2 };

    // A toast with a `key` replaces the parent's earlier toasts with the same key ("Checking..."
    // gives way to its result).
    static Toast *show(QWidget *parent, const QString &text, Toast::Type type, int ms, const QString &key = {});

    // A toast with one action, a link at the end of its text ("Undo"); following it runs `action`
    // and takes the toast away. A click elsewhere on it does not dismiss it, so it cannot be lost
    // to a click meant for the link.
    static Toast *showWithAction(QWidget *parent, const QString &text, Toast::Type type, int ms,
                                 const QString &actionText, const std::function<void()> &action);

    // Takes the parent's toasts with this key away at once.
    static void dismiss(QWidget *parent, const QString &key);

    Toast(QWidget *parent, const QString &text, Toast::Type type, int ms);

    // At most this many are shown at once; the rest wait.
    static constexpr int MaxShown = 4;
    static constexpr int MaxWidth = 520;
    // Errors are read, often twice: they stay at least this long, however short the time asked.
    static constexpr int MinErrorMs = 8000;

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    void fitText(int maxWidth);
    void start();
    void fadeOut();
    void finish();
    static void arrange(QWidget *parent);

    QTimer *m_timer;
    QString m_key;
    quint64 m_order;
    std::function<void()> m_action;
    bool m_started = false;
    bool m_done = false;
};
