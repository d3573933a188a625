#include "gui/projectview.h"

#include "core/addon.h"
#include "core/godotproject.h"
#include "core/settings.h"
#include "gui/widgets/elidedlabel.h"
#include "gui/widgets/focuskeeper.h"
#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"
#include "version.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

using Theme::classedLabel;

// The addon badge of a card: its class, text and tool tip; empty text when there is no addon.
struct Badge
{
    const char *cls = "badge-ok";
    QString text;
    QString toolTip;
};

Badge addonBadge(const AddonStatus &status)
{
    Badge badge;
    if (!status.installed)
        return badge;
    const QString installed = QObject::tr("Addon v") + status.installedVersion;
    badge.text = installed;
    if (status.updateAvailable) {
        badge.cls = "badge-warn";
        badge.text = QObject::tr("%1 · update available").arg(installed);
        badge.toolTip = QObject::tr("This app ships v%1").arg(status.bundledVersion);
    } else if (status.newerInstalled) {
        badge.cls = "badge-neutral";
        badge.text = QObject::tr("%1 · newer").arg(installed);
        badge.toolTip = QObject::tr("Installed v%1 (newer than this app's v%2)")
                            .arg(status.installedVersion, status.bundledVersion);
    }
    return badge;
}

} // namespace

ProjectView::ProjectView(Settings *settings, QWidget *parent)
    : QWidget(parent), m_settings(settings), m_chooseFolder([](QWidget *dialogParent, const QString &start) {
          return QFileDialog::getExistingDirectory(dialogParent, tr("Select Godot Project"), start,
                                                   QFileDialog::ShowDirsOnly);
      })
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
    selectButton->setIcon(QIcon(Icons::icon(Icons::FOLDER_PLUS, QStringLiteral("#ffffff"), 18, devicePixelRatio())));
    selectButton->setIconSize(QSize(18, 18));
    selectButton->setCursor(Qt::PointingHandCursor);
    connect(selectButton, &QPushButton::clicked, this, &ProjectView::selectProject);
    buttonRow->addWidget(selectButton);
    buttonRow->addStretch();
    layout->addLayout(buttonRow);

    layout->addWidget(classedLabel(tr("RECENT PROJECTS"), "section-title"));

    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    // Cards shrink to any width the window allows (paths are elided), so nothing scrolls sideways;
    // and the area itself is no Tab stop, its cards' buttons are.
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFocusPolicy(Qt::NoFocus);
    auto *listWidget = new QWidget;
    m_listLayout = new QVBoxLayout(listWidget);
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(8);
    m_listLayout->addStretch();
    scroll->setWidget(listWidget);
    layout->addWidget(scroll, 1);

    buildRecentList();
}

void ProjectView::setFolderChooser(FolderChooser chooser)
{
    m_chooseFolder = std::move(chooser);
}

void ProjectView::refresh()
{
    buildRecentList();
}

void ProjectView::buildRecentList()
{
    const FocusKeeper focus(this);
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
        focus.restore();
        return;
    }

    const Addon addon;
    // Every card shows the same two drawings: render each once per rebuild.
    const QPixmap folderIcon = Icons::icon(Icons::FOLDER, QStringLiteral("#4d8fd1"), 22, devicePixelRatio());
    const QIcon removeIcon(Icons::icon(Icons::CLOSE, QStringLiteral("#e0e4ea"), 18, devicePixelRatio()));
    for (int i = 0; i < recent.size(); ++i) {
        const QJsonObject entry = recent.at(i).toObject();
        const QString path = entry.value(QLatin1String("path")).toString();
        const bool folderExists = !path.isEmpty() && QFileInfo(path).isDir();
        const bool openable = GodotProject::isProject(path);
        QString name = openable ? GodotProject::displayName(path) : entry.value(QLatin1String("name")).toString();
        if (name.isEmpty())
            name = QDir(path).dirName();
        const QString group = QLatin1String("project:") + path;

        // Parents from the start: a widget with its own style sheet that is reparented later has
        // its style rebuilt at every move, which made up most of a rebuild's cost.
        auto *card = new QFrame(m_listLayout->parentWidget());
        Theme::setClass(card, "project-card");
        card->setProperty("projectPath", path);
        card->setProperty("projectName", name);
        card->setProperty("openable", openable);
        if (openable)
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
        auto *nameLabel = new ElidedLabel(name, card, Qt::ElideRight);
        nameLabel->setStyleSheet(QStringLiteral("font-weight: 600; font-size: 14px; background: transparent;"));
        textColumn->addWidget(nameLabel);
        auto *pathLabel = new ElidedLabel(path, card);
        Theme::setClass(pathLabel, "mono");
        textColumn->addWidget(pathLabel);
        row->addLayout(textColumn, 1);

        Badge badge;
        if (!folderExists)
            badge = {"badge-error", tr("Folder not found"), tr("%1 no longer exists").arg(path)};
        else if (!openable)
            badge = {"badge-error", tr("Not a Godot project"), tr("%1 has no project.godot").arg(path)};
        else
            badge = addonBadge(addon.status(path));
        if (!badge.text.isEmpty()) {
            QLabel *label = classedLabel(badge.text, badge.cls, card);
            label->setToolTip(badge.toolTip);
            label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed); // the path gives way, not the badge
            row->addWidget(label);
        }

        auto *removeButton = new QPushButton(card);
        Theme::setClass(removeButton, "icon-button");
        removeButton->setIcon(removeIcon);
        removeButton->setIconSize(QSize(18, 18));
        removeButton->setFixedSize(32, 32);
        removeButton->setAccessibleName(tr("Remove from recent projects"));
        removeButton->setToolTip(tr("Remove from recent"));
        removeButton->setCursor(Qt::PointingHandCursor);
        FocusKeeper::setKey(removeButton, QLatin1String("remove:") + path, group);
        connect(removeButton, &QPushButton::clicked, this, [this, path] {
            m_settings->removeRecentProject(path);
            buildRecentList();
        });
        row->addWidget(removeButton);

        auto *openButton = new QPushButton(tr("Open"), card);
        Theme::setClass(openButton, "secondary");
        openButton->setCursor(Qt::PointingHandCursor);
        openButton->setEnabled(openable);
        openButton->setAccessibleName(tr("Open %1").arg(name));
        FocusKeeper::setKey(openButton, QLatin1String("open:") + path, group);
        connect(openButton, &QPushButton::clicked, this, [this, path, name] { openProject(path, name); });
        row->addWidget(openButton);

        m_listLayout->insertWidget(i, card);
    }
    focus.restore();
}

void ProjectView::selectProject()
{
    // Beside the latest project, else at home: never in whatever folder the app was started from.
    QString start = QDir::homePath();
    const QJsonArray recent = m_settings->recentProjects();
    if (!recent.isEmpty()) {
        const QString parent = QFileInfo(recent.first()[QLatin1String("path")].toString()).absolutePath();
        if (QFileInfo(parent).isDir())
            start = parent;
    }
    for (;;) {
        const QString path = m_chooseFolder(this, start);
        if (path.isEmpty())
            return;
        if (GodotProject::isProject(path)) {
            m_settings->addRecentProject(path, GodotProject::displayName(path));
            m_settings->setActiveProject(path);
            emit projectSelected(path);
            buildRecentList();
            return;
        }
        // Refused before it becomes the active project; the dialog opens again where the user was.
        QMessageBox::warning(this, tr("Not a Godot project"),
                             tr("%1 has no project.godot file.\n\nChoose the folder that holds your Godot "
                                "project's project.godot.")
                                 .arg(QDir::toNativeSeparators(path)));
        start = path;
    }
}

void ProjectView::openProject(const QString &path, const QString &name)
{
    if (!GodotProject::isProject(path)) {
        buildRecentList(); // gone since the list was drawn: the card now says so
        return;
    }
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
            card->property("openable").toBool()) {
            openProject(card->property("projectPath").toString(), card->property("projectName").toString());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
