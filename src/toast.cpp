#include "toast.h"

// Placeholder until toasts land.
void Toast::show(QWidget *, const QString &, Toast::Type, int) {}
Toast::Toast(QWidget *parent, const QString &text, Toast::Type, int) : QLabel(text, parent) {}
void Toast::fadeOut() { deleteLater(); }
