#include "settingsview.h"

// Placeholder until the Settings page lands.
SettingsView::SettingsView(Settings *settings, Updater *updater, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_updater(updater)
{
}
void SettingsView::buildUI() {}
void SettingsView::refresh() {}
