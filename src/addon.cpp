#include "addon.h"

// Placeholder until the addon installer lands.
Addon::Addon(QObject *parent) : QObject(parent) {}
bool Addon::install(const QString &) { return false; }
bool Addon::uninstall(const QString &) { return false; }
AddonStatus Addon::status(const QString &) const { return {}; }
QString Addon::bundledVersion() const { return {}; }
QString Addon::bundledAddonDir() { return {}; }
QString Addon::readVersionFromCfg(const QString &) { return {}; }
bool Addon::copyDir(const QString &, const QString &) { return false; }
bool Addon::removeDir(const QString &) { return false; }
