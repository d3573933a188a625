#include "gui/projectview.h"

#include "base/userfolders.h"
#include "core/addon.h"
#include "core/asynctask.h"
#include "core/godotlocator.h"
#include "core/godotproject.h"
#include "core/settings.h"
#include "gui/widgets/elidedlabel.h"
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
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QThreadPool>
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

// Shows or hides a card's part only when that changes it: showing a part of a card that is not on
// screen yet polishes and lays it out at once, for a size it never has, which start-up pays for.
void setShown(QWidget *widget, bool shown)
{
    if (widget->isHidden() == shown)
        widget->setVisible(shown);
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
    auto *selectButton = Theme::classedButton(tr("  Select Project Folder"), "primary");
    selectButton->setIcon(
        QIcon(Icons::icon(Icons::FOLDER_PLUS, QLatin1String(Theme::Palette::OnAccent), 18, devicePixelRatio())));
    selectButton->setIconSize(QSize(18, 18));
    connect(selectButton, &QPushButton::clicked, this, &ProjectView::selectProject);
    selectButton->setToolTip(tr("Choose the folder that holds your Godot project's project.godot (%1)")
                                 .arg(QKeySequence(QKeySequence::Open).toString(QKeySequence::NativeText)));
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
    m_empty = classedLabel(tr("No recent projects. Select a folder to get started."), "dim", listWidget);
    m_listLayout->addWidget(m_empty);
    buildGodotList(m_listLayout);
    m_listLayout->addStretch();
    scroll->setWidget(listWidget);
    layout->addWidget(scroll, 1);

    // Every card shows the same drawings.
    m_folderIcon = Icons::icon(Icons::FOLDER, QLatin1String(Theme::Palette::Accent), 22, devicePixelRatio());
    m_removeIcon = Icons::icon(Icons::CLOSE, QLatin1String(Theme::Palette::Text), 18, devicePixelRatio());
    m_launchIcon = QIcon(Icons::icon(Icons::LAUNCH, QLatin1String(Theme::Palette::Text), 16, devicePixelRatio()));
    // Faint while there is no Godot 4 to start, as disabled text is.
    m_launchIcon.addPixmap(Icons::icon(Icons::LAUNCH, QLatin1String(Theme::Palette::TextFaint), 16, devicePixelRatio()),
                           QIcon::Disabled);
    refresh();
}

void ProjectView::setFolderChooser(FolderChooser chooser)
{
    m_chooseFolder = std::move(chooser);
}

void ProjectView::refresh()
{
    const QJsonArray recent = m_settings->recentProjects();
    QList<QFrame *> old = m_cards;
    m_cards.clear();
    QList<QFrame *> added;
    for (const auto &value : recent) {
        const QJsonObject entry = value.toObject();
        const QString path = entry.value(QLatin1String("path")).toString();
        // The same project keeps its card.
        QFrame *card = nullptr;
        for (qsizetype i = 0; i < old.size() && !card; ++i) {
            if (old.at(i)->property("projectPath").toString() == path)
                card = old.takeAt(i);
        }
        if (!card) {
            card = makeCard(path);
            added << card;
        }
        showCard(card, entry.value(QLatin1String("name")).toString());
        m_cards << card;
    }
    for (QFrame *gone : std::as_const(old)) {
        m_listLayout->removeWidget(gone);
        gone->hide();
        gone->deleteLater();
    }
    // In the settings' order, above the trailing stretch; Tab goes down the list the same way.
    QWidget *previous = nullptr;
    for (int i = 0; i < m_cards.size(); ++i) {
        QFrame *card = m_cards.at(i);
        if (m_listLayout->indexOf(card) != i + 1) {
            m_listLayout->removeWidget(card);
            m_listLayout->insertWidget(i + 1, card);
        }
        for (QPushButton *button : card->findChildren<QPushButton *>()) {
            if (previous)
                QWidget::setTabOrder(previous, button);
            previous = button;
        }
    }
    // At once: a layout shows a widget added to a visible page only from the event loop; a page not
    // shown yet shows its cards with itself.
    for (QFrame *card : std::as_const(added))
        setShown(card, true);
    m_empty->setVisible(m_cards.isEmpty());
    readGodotList();
}

QFrame *ProjectView::makeCard(const QString &path)
{
    auto *card = new QFrame(m_listLayout->parentWidget());
    Theme::setClass(card, "project-card");
    card->setProperty("projectPath", path);
    card->installEventFilter(this);
    auto *row = new QHBoxLayout(card);
    row->setContentsMargins(14, 10, 14, 10);

    auto *icon = new QLabel(card);
    icon->setPixmap(m_folderIcon);
    icon->setFixedSize(28, 28);
    Theme::setClass(icon, "icon");
    row->addWidget(icon);

    auto *textColumn = new QVBoxLayout;
    textColumn->setSpacing(2);
    auto *nameLabel = new ElidedLabel(QString(), card, Qt::ElideRight);
    nameLabel->setObjectName(QStringLiteral("projectName"));
    Theme::setClass(nameLabel, "card-title");
    textColumn->addWidget(nameLabel);
    auto *pathLabel = new ElidedLabel(path, card);
    Theme::setClass(pathLabel, "mono");
    textColumn->addWidget(pathLabel);
    row->addLayout(textColumn, 1);

    auto *badge = new QLabel(card);
    badge->setObjectName(QStringLiteral("projectBadge"));
    badge->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed); // the path gives way, not the badge
    row->addWidget(badge);

    auto *removeButton = new QPushButton(card);
    Theme::setClass(removeButton, "icon-button");
    removeButton->setIcon(QIcon(m_removeIcon));
    removeButton->setIconSize(QSize(18, 18));
    removeButton->setFixedSize(32, 32);
    removeButton->setAccessibleName(tr("Remove from recent projects"));
    removeButton->setToolTip(tr("Remove from recent"));
    removeButton->setCursor(Qt::PointingHandCursor);
    connect(removeButton, &QPushButton::clicked, this, [this, card] { removeProject(card); });
    row->addWidget(removeButton);

    auto *openButton = Theme::classedButton(tr("Open"), "secondary", card);
    openButton->setObjectName(QStringLiteral("projectOpen"));
    connect(openButton, &QPushButton::clicked, this, [this, card] {
        openProject(card->property("projectPath").toString(), card->property("projectName").toString());
    });
    row->addWidget(openButton);
    addGodotControls(card);
    return card;
}

void ProjectView::showCard(QFrame *card, const QString &storedName)
{
    const QString path = card->property("projectPath").toString();
    const bool folderExists = !path.isEmpty() && QFileInfo(path).isDir();
    const bool openable = GodotProject::isProject(path);
    QString name = openable ? GodotProject::displayName(path) : storedName;
    if (name.isEmpty())
        name = QDir(path).dirName();
    card->setProperty("projectName", name);
    card->setProperty("openable", openable);
    card->setCursor(openable ? Qt::PointingHandCursor : Qt::ArrowCursor);
    card->findChild<ElidedLabel *>(QStringLiteral("projectName"))->setFullText(name);

    Badge badge;
    if (!folderExists)
        badge = {"badge-error", tr("Folder not found"), tr("%1 no longer exists").arg(path)};
    else if (!openable)
        badge = {"badge-error", tr("Not a Godot project"), tr("%1 has no project.godot").arg(path)};
    else
        badge = addonBadge(Addon().status(path));
    auto *label = card->findChild<QLabel *>(QStringLiteral("projectBadge"));
    label->setText(badge.text);
    label->setToolTip(badge.toolTip);
    Theme::setClass(label, badge.cls);
    setShown(label, !badge.text.isEmpty());

    auto *open = card->findChild<QPushButton *>(QStringLiteral("projectOpen"));
    open->setEnabled(openable);
    open->setAccessibleName(tr("Open %1").arg(name));
    showGodot(card);
    markActive(card);
}

// The project the Setup page works on is marked in words as well as by its border.
void ProjectView::markActive(QFrame *card)
{
    const bool active = card->property("projectPath").toString() == m_settings->activeProject();
    auto *mark = card->findChild<QLabel *>(QStringLiteral("projectActive"));
    if (!mark && active) {
        // Beside the name, which elides to make room: the row of badges and buttons stays as wide.
        mark = Theme::classedLabel(tr("Active"), "badge-neutral", card);
        mark->setObjectName(QStringLiteral("projectActive"));
        mark->setToolTip(tr("The project the Setup page works on"));
        mark->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        auto *name = card->findChild<ElidedLabel *>(QStringLiteral("projectName"));
        auto *column = static_cast<QVBoxLayout *>(name->parentWidget()->layout()->itemAt(1)->layout());
        auto *nameRow = new QHBoxLayout;
        nameRow->setSpacing(8);
        column->insertLayout(column->indexOf(name), nameRow);
        column->removeWidget(name);
        name->setMinimumWidth(16); // the card is no wider for the mark: the name elides further
        nameRow->addWidget(name, 1);
        nameRow->addWidget(mark);
    }
    if (mark)
        mark->setVisible(active);
    if (card->property("active").toString() != (active ? QLatin1String("true") : QLatin1String("false"))) {
        card->setProperty("active", active ? QStringLiteral("true") : QStringLiteral("false"));
        card->style()->unpolish(card);
        card->style()->polish(card);
    }
}

void ProjectView::removeProject(QFrame *card)
{
    // The focus moves to the same button of the card that takes this one's place (or of the one
    // above, for the last), not to whatever follows in the window.
    const qsizetype index = m_cards.indexOf(card);
    const QList<QPushButton *> buttons = card->findChildren<QPushButton *>();
    const qsizetype focused = buttons.indexOf(qobject_cast<QPushButton *>(window()->focusWidget()));
    const QString path = card->property("projectPath").toString();
    const QJsonArray before = m_settings->recentProjects();
    QJsonObject entry;
    int place = 0;
    for (int i = 0; i < before.size(); ++i) {
        if (before.at(i).toObject().value(QLatin1String("path")).toString() == path) {
            entry = before.at(i).toObject();
            place = i;
        }
    }
    m_settings->removeRecentProject(path);
    if (!entry.isEmpty())
        emit recentProjectRemoved(entry, place);
    if (focused >= 0 && m_cards.size() > 1) {
        QFrame *next = m_cards.at(index + 1 < m_cards.size() ? index + 1 : index - 1);
        next->findChildren<QPushButton *>().value(focused)->setFocus(Qt::OtherFocusReason);
    }
    refresh();
}

void ProjectView::selectProject()
{
    // Beside the latest project, else at home: never in whatever folder the app was started from.
    QString start = UserFolders::home();
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
            refresh();
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
        refresh(); // gone since the list was drawn: the card now says so
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

void ProjectView::setGodot(GodotLocator *godot)
{
    m_godot = godot;
    connect(godot, &GodotLocator::changed, this, [this] {
        for (QFrame *card : std::as_const(m_cards))
            showGodot(card);
    });
    for (QFrame *card : std::as_const(m_cards))
        showGodot(card);
}

void ProjectView::addGodotControls(QFrame *card)
{
    // The Godot version and "Open in Godot" (an icon, as the remove button is) stack above the
    // addon badge, which is wider than both: the card needs no more width for them.
    auto *row = static_cast<QHBoxLayout *>(card->layout());
    auto *addonBadge = card->findChild<QLabel *>(QStringLiteral("projectBadge"));
    const int at = row->indexOf(addonBadge);
    row->removeWidget(addonBadge);
    auto *badges = new QVBoxLayout;
    badges->setSpacing(4);
    auto *godotLine = new QHBoxLayout;
    godotLine->setSpacing(6);
    godotLine->addStretch();
    auto *badge = new QLabel(card);
    badge->setObjectName(QStringLiteral("projectGodot"));
    badge->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    godotLine->addWidget(badge);
    auto *open = new QPushButton(card);
    open->setObjectName(QStringLiteral("projectOpenInGodot"));
    Theme::setClass(open, "icon-button");
    open->setIcon(m_launchIcon);
    open->setIconSize(QSize(16, 16));
    open->setFixedSize(26, 26);
    open->setCursor(Qt::PointingHandCursor);
    connect(open, &QPushButton::clicked, this, [this, card] {
        QString error;
        if (!m_godot || m_godot->open(card->property("projectPath").toString(), &error))
            return;
        auto *box = new QMessageBox(QMessageBox::Warning, tr("Opening the project in Godot failed"), error,
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    });
    godotLine->addWidget(open);
    badges->addLayout(godotLine);
    badges->addWidget(addonBadge, 0, Qt::AlignRight);
    row->insertLayout(at, badges);
}

void ProjectView::showGodot(QFrame *card)
{
    const QString path = card->property("projectPath").toString();
    const bool openable = card->property("openable").toBool();
    const GodotProjectInfo info = openable ? GodotProject::read(path) : GodotProjectInfo();
    const bool beforeGodot4 = GodotProject::isBeforeGodot4(info);
    // The engine the project was last saved with, as Godot's project manager shows it.
    auto *badge = card->findChild<QLabel *>(QStringLiteral("projectGodot"));
    if (beforeGodot4) {
        badge->setText(info.configVersion == 4 ? tr("Godot 3") : tr("Before Godot 3"));
        badge->setToolTip(tr("Tavrin MCP needs Godot 4"));
        Theme::setClass(badge, "badge-warn");
    } else {
        badge->setText(info.lastSavedWith.isEmpty() ? QString() : tr("Godot %1").arg(info.lastSavedWith));
        badge->setToolTip(QString());
        Theme::setClass(badge, "badge-neutral-muted");
    }
    setShown(badge, !badge->text().isEmpty());

    auto *open = card->findChild<QPushButton *>(QStringLiteral("projectOpenInGodot"));
    setShown(open, m_godot != nullptr);
    if (!m_godot)
        return;
    QString why;
    if (!openable)
        why = tr("%1 has no project.godot").arg(QDir::toNativeSeparators(path));
    else if (beforeGodot4)
        why = tr("A Godot 3 project: Godot 4 would offer to convert it");
    else
        why = m_godot->unavailableReason();
    open->setEnabled(why.isEmpty());
    open->setToolTip(why.isEmpty() ? tr("Open in Godot") : why);
    open->setAccessibleName(tr("Open %1 in Godot").arg(card->property("projectName").toString()));
}

void ProjectView::buildGodotList(QVBoxLayout *layout)
{
    m_godotList = new QWidget(layout->parentWidget());
    m_godotList->setObjectName(QStringLiteral("godotProjectList"));
    auto *list = new QVBoxLayout(m_godotList);
    list->setContentsMargins(0, 16, 0, 0);
    list->setSpacing(8);
    list->addWidget(classedLabel(tr("FROM GODOT'S PROJECT LIST"), "section-title"));
    m_godotList->hide(); // until the list has something to offer
    layout->addWidget(m_godotList);
}

void ProjectView::readGodotList()
{
    QStringList recent;
    for (const auto &value : m_settings->recentProjects())
        recent << value.toObject().value(QLatin1String("path")).toString();
    const int read = ++m_godotListReads;
    // A file read per listed project, perhaps on a slow or network drive: off the GUI thread.
    AsyncTask::runThenCallback(
        QThreadPool::globalInstance(), this, [recent] { return GodotEditors::listedProjects(recent); },
        [this, read](const QList<GodotListedProject> &projects) {
            if (read == m_godotListReads)
                showGodotList(projects);
        });
}

void ProjectView::showGodotList(const QList<GodotListedProject> &projects)
{
    auto *list = static_cast<QVBoxLayout *>(m_godotList->layout());
    while (m_godotRows.size() < projects.size()) {
        auto *row = new QFrame(m_godotList);
        Theme::setClass(row, "project-card");
        auto *line = new QHBoxLayout(row);
        line->setContentsMargins(14, 6, 14, 6);
        auto *text = new QVBoxLayout;
        text->setSpacing(2);
        auto *name = new ElidedLabel(QString(), row, Qt::ElideRight);
        name->setObjectName(QStringLiteral("listedName"));
        Theme::setClass(name, "card-title");
        text->addWidget(name);
        auto *path = new ElidedLabel(QString(), row);
        path->setObjectName(QStringLiteral("listedPath"));
        Theme::setClass(path, "mono");
        text->addWidget(path);
        line->addLayout(text, 1);
        QPushButton *add = Theme::classedButton(tr("Add"), "secondary", row);
        connect(add, &QPushButton::clicked, this, [this, row] {
            m_settings->addRecentProject(row->property("projectPath").toString(),
                                         row->property("projectName").toString());
            refresh();
        });
        line->addWidget(add);
        list->addWidget(row);
        m_godotRows << row;
    }
    for (int i = 0; i < m_godotRows.size(); ++i) {
        QFrame *row = m_godotRows.at(i);
        row->setVisible(i < projects.size());
        if (i >= projects.size())
            continue;
        const GodotListedProject &project = projects.at(i);
        row->setProperty("projectPath", project.path);
        row->setProperty("projectName", project.name);
        row->findChild<ElidedLabel *>(QStringLiteral("listedName"))
            ->setFullText(project.favorite ? tr("★ %1").arg(project.name) : project.name);
        row->findChild<ElidedLabel *>(QStringLiteral("listedPath"))
            ->setFullText(QDir::toNativeSeparators(project.path));
        row->findChild<QPushButton *>()->setAccessibleName(tr("Add %1").arg(project.name));
    }
    m_godotList->setVisible(!projects.isEmpty());
    // Tab goes on from the last recent card to the list's Add buttons, in list order.
    QWidget *previous = nullptr;
    if (!m_cards.isEmpty() && !m_cards.last()->findChildren<QPushButton *>().isEmpty())
        previous = m_cards.last()->findChildren<QPushButton *>().last();
    for (QFrame *row : std::as_const(m_godotRows)) {
        auto *add = row->findChild<QPushButton *>();
        if (previous)
            QWidget::setTabOrder(previous, add);
        previous = add;
    }
}
