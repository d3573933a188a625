#pragma once

#include <QLabel>

// A short message floating over the bottom centre of a widget: opaque for a while, then fades
// out over 300 ms and deletes itself. Fire and forget. Toasts shown while others are up stack
// upwards, oldest at the bottom, so that each stays readable for its whole time; when the stack
// is full, newer ones wait their turn.
class Toast : public QLabel
{
    Q_OBJECT
public:
    // Fixed underlying type: pages pass the type as a plain int, and any value must be
    // representable (unknown values are shown as Info). The values keep their meaning.
    enum Type : int { Info = 0, Success = 1, Error = 2 };

    static void show(QWidget *parent, const QString &text, Toast::Type type, int ms);

    Toast(QWidget *parent, const QString &text, Toast::Type type, int ms);

    // At most this many are shown at once; the rest wait.
    static constexpr int MaxShown = 4;

private:
    void start();
    void fadeOut();
    void finish();
    static void arrange(QWidget *parent);

    int m_ms;
    quint64 m_order;
    bool m_started = false;
    bool m_done = false;
};
