#include "projectview.h"

#include "addon.h"
#include "icons.h"
#include "settings.h"
#include "theme.h"
#include "version.h"

#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

using Theme::classedLabel;

} // namespace

ProjectView::ProjectView(Settings *settings, QWidget *parent) : QWidget(parent), m_settings(settings)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 32, 40, 32);
    layout->setSpacing(24);

    layout->addWidget(classedLabel(tr("Projects"), "title"));
    layout->addWidget(
        classedLabel(tr("Select a Godot project to configure %1.").arg(QLatin1String(Tavrin::AppName)), "subtitle"));

    auto *buttonRow = new QHBoxLayout;
    auto *selectButton = new QPushButton(tr("  Select Project Folder"));
    Theme::setClass(selectButton, "primary");
    selectButton->setIcon(QIcon(Icons::icon(Icons::FOLDER_PLUS, QStringLiteral("#ffffff"), 18)));
    selectButton->setIconSize(QSize(18, 18));
    selectButton->setCursor(Qt::PointingHandCursor);
    connect(selectButton, &QPushButton::clicked, this, &ProjectView::selectProject);
    buttonRow->addWidget(selectButton);
    buttonRow->addStretch();
    layout->addLayout(buttonRow);

    layout->addWidget(classedLabel(tr("RECENT PROJECTS"), "section-title"));

    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    auto *listWidget = new QWidget;
    m_listLayout = new QVBoxLayout(listWidget);
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(8);
    m_listLayout->addStretch();
    scroll->setWidget(listWidget);
    layout->addWidget(scroll, 1);

    buildRecentList();
}

void ProjectView::refresh()
{
    buildRecentList();
}

void ProjectView::buildRecentList()
{
    while (m_listLayout->count() > 1) {
        QLayoutItem *item = m_listLayout->takeAt(0);
        if (QWidget *widget = item->widget()) {
            // Gone from view at once, even though deletion waits for the event loop.
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }

    const QJsonArray recent = m_settings->recentProjects();
    if (recent.isEmpty()) {
        m_listLayout->insertWidget(0, classedLabel(tr("No recent projects. Select a folder to get started."), "dim"));
        return;
    }

    const Addon addon;
    // Every card shows the same two drawings: render each once per rebuild.
    const QPixmap folderIcon = Icons::icon(Icons::FOLDER, QStringLiteral("#4d8fd1"), 22);
    const QIcon removeIcon(Icons::icon(Icons::CLOSE, QStringLiteral("#e0e4ea"), 18));
    for (int i = 0; i < recent.size(); ++i) {
        const QJsonObject entry = recent.at(i).toObject();
        const QString path = entry.value(QLatin1String("path")).toString();
        const QString name = entry.value(QLatin1String("name")).toString();

        // Parents from the start: a widget with its own style sheet that is reparented later has
        // its style rebuilt at every move, which made up most of a rebuild's cost.
        auto *card = new QFrame(m_listLayout->parentWidget());
        Theme::setClass(card, "project-card");
        card->setProperty("projectPath", path);
        card->setProperty("projectName", name);
        card->setCursor(Qt::PointingHandCursor);
        card->installEventFilter(this);
        auto *row = new QHBoxLayout(card);
        row->setContentsMargins(14, 10, 14, 10);

        auto *icon = new QLabel(card);
        icon->setPixmap(folderIcon);
        icon->setFixedSize(28, 28);
        icon->setStyleSheet(QStringLiteral("background: transparent;"));
        row->addWidget(icon);

        auto *textColumn = new QVBoxLayout;
        textColumn->setSpacing(2);
        auto *nameLabel = new QLabel(name, card);
        nameLabel->setStyleSheet(QStringLiteral("font-weight: 600; font-size: 14px; background: transparent;"));
        textColumn->addWidget(nameLabel);
        textColumn->addWidget(classedLabel(path, "mono", card));
        row->addLayout(textColumn, 1);

        const AddonStatus status = addon.status(path);
        if (status.installed)
            row->addWidget(classedLabel(tr("Addon v") + status.installedVersion, "badge-ok", card));

        auto *removeButton = new QPushButton(card);
        Theme::setClass(removeButton, "icon-button");
        removeButton->setIcon(removeIcon);
        removeButton->setIconSize(QSize(18, 18));
        removeButton->setFixedSize(32, 32);
        removeButton->setAccessibleName(tr("Remove from recent projects"));
        removeButton->setToolTip(tr("Remove from recent"));
        removeButton->setCursor(Qt::PointingHandCursor);
        connect(removeButton, &QPushButton::clicked, this, [this, path] {
            m_settings->removeRecentProject(path);
            buildRecentList();
        });
        row->addWidget(removeButton);

        auto *openButton = new QPushButton(tr("Open"), card);
        Theme::setClass(openButton, "secondary");
        openButton->setCursor(Qt::PointingHandCursor);
        connect(openButton, &QPushButton::clicked, this, [this, path, name] { openProject(path, name); });
        row->addWidget(openButton);

        m_listLayout->insertWidget(i, card);
    }
}

void ProjectView::selectProject()
{
    const QString path =
        QFileDialog::getExistingDirectory(this, tr("Select Godot Project"), QString(), QFileDialog::ShowDirsOnly);
    if (path.isEmpty())
        return;
    const QString name = QDir(path).dirName();
    m_settings->addRecentProject(path, name);
    m_settings->setActiveProject(path);
    emit projectSelected(path);
    buildRecentList();
}

void ProjectView::openProject(const QString &path, const QString &name)
{
    m_settings->setActiveProject(path);
    m_settings->addRecentProject(path, name);
    emit projectSelected(path);
}

bool ProjectView::eventFilter(QObject *watched, QEvent *event)
{
    // A click on a card's body opens the project like its "Open" button; the buttons on the card
    // take their own clicks, so those never reach the card.
    if (event->type() == QEvent::MouseButtonRelease) {
        auto *card = qobject_cast<QFrame *>(watched);
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (card && mouse->button() == Qt::LeftButton && card->rect().contains(mouse->position().toPoint()) &&
            card->property("projectPath").isValid()) {
            openProject(card->property("projectPath").toString(), card->property("projectName").toString());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
