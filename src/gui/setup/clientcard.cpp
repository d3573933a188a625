#include "gui/setup/clientcard.h"

#include "core/mcpserver.h"
#include "gui/widgets/cardfocus.h"
#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

ClientCard::ClientCard(const ClientCatalogue::Client &client, QWidget *parent)
    : QFrame(parent), m_id(client.id), m_name(client.name)
{
    setObjectName(QStringLiteral("clientCard"));
    setProperty("clientId", client.id);
    Theme::setClass(this, "client-card");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setMinimumHeight(158);
    // Not a Tab stop, but it holds the focus while its buttons are busy.
    setFocusPolicy(Qt::ClickFocus);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);

    m_header = new QHBoxLayout;
    m_header->setSpacing(10);
    layout->addLayout(m_header);
    auto *icon = new QLabel;
    icon->setPixmap(
        Icons::cached(Icons::forKey(client.iconKey), QLatin1String(Theme::Palette::Accent), 20, devicePixelRatioF()));
    icon->setFixedSize(24, 24);
    icon->setAlignment(Qt::AlignCenter);
    Theme::setClass(icon, "icon");
    m_header->addWidget(icon);
    auto *name = Theme::classedLabel(client.name, "client-name");
    name->setObjectName(QStringLiteral("clientName"));
    name->setWordWrap(true);
    m_header->addWidget(name, 1);
    m_more = new QToolButton;
    m_more->setObjectName(QStringLiteral("clientMore"));
    m_more->setText(QStringLiteral("\u22ef"));
    Theme::setClass(m_more, "more-button");
    m_more->setToolTip(tr("Backups, the entry, the configuration file"));
    m_more->setAccessibleName(tr("More for %1").arg(client.name));
    m_more->setCursor(Qt::PointingHandCursor);
    connect(m_more, &QToolButton::clicked, this, [this] { emit menuRequested(m_id, m_more); });
    m_header->addWidget(m_more, 0, Qt::AlignTop);

    m_badge = new QLabel;
    m_badge->setObjectName(QStringLiteral("clientBadge"));
    m_badge->setAlignment(Qt::AlignCenter);
    m_badge->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    layout->addWidget(m_badge, 0, Qt::AlignLeft);
    m_mode = Theme::classedLabel(QString(), "faint");
    m_mode->setObjectName(QStringLiteral("clientMode"));
    m_mode->setToolTip(tr("The permission mode this entry gives the server"));
    layout->addWidget(m_mode);

    layout->addStretch(0);

    m_hint = Theme::classedLabel(tr("Install the client to configure."), "faint");
    m_hint->setWordWrap(true);
    m_hint->setMinimumHeight(32);
    layout->addWidget(m_hint);

    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    layout->addLayout(row);
    m_actions = row;
    const auto addButton = [this, row](const char *cls) {
        QPushButton *button = Theme::classedButton(QString(), cls);
        button->setObjectName(QStringLiteral("clientAction"));
        button->setMinimumHeight(32);
        row->addWidget(button, 1);
        return button;
    };
    m_write = addButton("primary");
    m_remove = addButton("secondary");
    connect(m_write, &QAbstractButton::clicked, this, [this] { emit actionRequested(m_id, false); });
    connect(m_remove, &QAbstractButton::clicked, this, [this] { emit actionRequested(m_id, true); });

    if (const QString command = ClientCatalogue::registrationCommand(client); !command.isEmpty())
        setToolTip(tr("Registered with: %1").arg(command));
    ClientInfo unknown;
    unknown.id = client.id;
    unknown.name = client.name;
    unknown.usesCli = client.usesCli;
    setInfo(unknown, QString(), false);
}

void ClientCard::setInfo(const ClientInfo &info, const QString &permissionMode, bool busy)
{
    QWidget *focused = CardFocus::take(this);
    if (!info.usesCli && !info.configPath.isEmpty())
        setToolTip(tr("Configuration file: %1").arg(info.configPath));

    const bool present = info.installed || info.configured;
    m_more->setVisible(present);
    m_more->setEnabled(!busy);

    const QString problems = Clients::entryProblems(info, permissionMode).join(QLatin1Char('\n'));
    if (!info.configured) {
        m_badge->setText(info.installed ? tr("Detected") : tr("Not installed"));
        Theme::setClass(m_badge, info.installed ? "badge-neutral" : "badge-neutral-muted");
    } else if (problems.isEmpty()) {
        m_badge->setText(tr("Configured"));
        Theme::setClass(m_badge, "badge-ok");
    } else {
        m_badge->setText(tr("Needs update"));
        Theme::setClass(m_badge, "badge-warn");
    }
    m_badge->setToolTip(problems);
    // What the entry holds, which after a mode change may not be what Settings say yet.
    m_mode->setText(info.configured && !info.mode.isEmpty() ? McpServer::modeName(info.mode) : QString());
    m_mode->setVisible(!m_mode->text().isEmpty());
    m_hint->setVisible(!present);

    // Configure; or Update (the same write) and Remove; one "Working..." in their place when busy.
    const bool write = present && (!info.configured || !problems.isEmpty());
    const bool remove = info.configured;
    const QString writeText = info.configured ? tr("Update") : tr("Configure");
    m_write->setText(busy ? tr("Working...") : writeText);
    m_write->setAccessibleName(writeText + QLatin1Char(' ') + m_name);
    m_remove->setText(busy ? tr("Working...") : tr("Remove"));
    m_remove->setAccessibleName(tr("Remove") + QLatin1Char(' ') + m_name);
    m_write->setVisible(write);
    m_remove->setVisible(remove && !(busy && write));
    m_write->setEnabled(!busy);
    m_remove->setEnabled(!busy);
    placeActions();
    CardFocus::settle(this, focused, {m_write, m_remove, m_more});
}

QList<QPushButton *> ClientCard::shownActions() const
{
    QList<QPushButton *> shown;
    for (QPushButton *button : {m_write, m_remove}) {
        if (!button->isHidden())
            shown << button;
    }
    return shown;
}

QSize ClientCard::minimumSizeHint() const
{
    // Narrower cards would break their names into one word a line.
    constexpr int floor = 170;
    QSize size = QFrame::minimumSizeHint();
    const QList<QPushButton *> shown = shownActions();
    if (shown.size() < 2) {
        size.setWidth(std::max(size.width(), floor));
        return size;
    }
    int widest = 0;
    for (const QPushButton *button : shown)
        widest = std::max(widest, button->minimumSizeHint().width());
    const QMargins margins = layout()->contentsMargins();
    int header = 0;
    for (int i = 0; i < m_header->count(); ++i) {
        const QLayoutItem *item = m_header->itemAt(i);
        if (!item->isEmpty())
            header += item->minimumSize().width() + (i ? m_header->spacing() : 0);
    }
    size.setWidth(std::max(floor, std::max({widest, header, m_badge->minimumSizeHint().width()}) + margins.left() +
                                      margins.right()));
    return size;
}

void ClientCard::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    placeActions();
}

void ClientCard::placeActions()
{
    const QList<QPushButton *> shown = shownActions();
    // Side by side where they fit at their natural width, else one above the other.
    int needed = m_actions->spacing() * int(shown.size() - 1);
    for (const QPushButton *button : shown)
        needed += button->sizeHint().width();
    const QMargins margins = layout()->contentsMargins();
    const auto direction = shown.size() < 2 || width() - margins.left() - margins.right() >= needed
                               ? QBoxLayout::LeftToRight
                               : QBoxLayout::TopToBottom;
    if (m_actions->direction() != direction)
        m_actions->setDirection(direction);
}
