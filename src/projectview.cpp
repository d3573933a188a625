#include "projectview.h"

// Placeholder until the Projects page lands.
ProjectView::ProjectView(Settings *settings, QWidget *parent) : QWidget(parent), m_settings(settings) {}
void ProjectView::refresh() {}
void ProjectView::buildRecentList() {}
void ProjectView::selectProject() {}
