#include "prereqs.h"

// Placeholder until the prerequisite checks land.
Prereqs::Prereqs(QObject *parent) : QObject(parent) {}
QList<PrereqResult> Prereqs::check() const { return {}; }
PrereqResult Prereqs::checkExe(const QString &, const QString &, const QStringList &, const QString &) { return {}; }
