#pragma once

#include <QLabel>

// A short message floating over the bottom centre of a widget: opaque for a while, then fades
// out over 300 ms and deletes itself. Fire and forget.
class Toast : public QLabel
{
    Q_OBJECT
public:
    // Fixed underlying type: pages pass the type as a plain int, and any value must be
    // representable (unknown values are shown as Info).
    enum Type : int { Info = 0, Success = 1, Error = 2 };

    static void show(QWidget *parent, const QString &text, Toast::Type type, int ms);

    Toast(QWidget *parent, const QString &text, Toast::Type type, int ms);

private:
    void fadeOut();
};
