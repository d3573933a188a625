#include "setupview.h"

// Placeholder until the Setup page lands.
SetupView::SetupView(Settings *settings, Addon *addon, Clients *clients, Prereqs *prereqs, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_addon(addon), m_clients(clients), m_prereqs(prereqs)
{
}
SetupView::~SetupView() = default;
void SetupView::refresh() {}
void SetupView::syncPermissionMode(const QString &) {}
void SetupView::scanStatus() {}
void SetupView::changeAddon(bool) {}
void SetupView::changeClient(const QString &, bool) {}
void SetupView::rebuildAll() {}
void SetupView::buildAddonSection(QVBoxLayout *) {}
void SetupView::buildClientsSection(QVBoxLayout *) {}
void SetupView::buildPrereqsSection(QVBoxLayout *) {}
