#include "gui/setup/clientcard.h"

#include "gui/widgets/focuskeeper.h"
#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString s_accent = QStringLiteral("#4d8fd1");
const QString s_expected = QStringLiteral("uvx tavrin");

} // namespace

ClientCard::ClientCard(const ClientInfo &info, const QString &permissionMode, bool busy, QWidget *parent)
    : QFrame(parent), m_id(info.id)
{
    const ClientCatalogue::Client *client = ClientCatalogue::find(info.id);
    setObjectName(QStringLiteral("clientCard"));
    setProperty("clientId", info.id);
    Theme::setClass(this, "client-card");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setMinimumHeight(158);
    // Not a Tab stop, but it can hold the focus while its buttons are busy (see SetupView).
    setFocusPolicy(Qt::ClickFocus);
    const QString group = QLatin1String("client:") + info.id;
    FocusKeeper::setKey(this, group, group);
    if (const QString command = client ? ClientCatalogue::registrationCommand(*client) : QString(); !command.isEmpty())
        setToolTip(tr("Registered with: %1").arg(command));
    else if (!info.configPath.isEmpty())
        setToolTip(tr("Configuration file: %1").arg(info.configPath));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);

    m_header = new QHBoxLayout;
    m_header->setSpacing(10);
    layout->addLayout(m_header);
    auto *icon = new QLabel;
    icon->setPixmap(
        Icons::cached(Icons::forKey(client ? client->iconKey : QString()), s_accent, 20, devicePixelRatioF()));
    icon->setFixedSize(24, 24);
    icon->setAlignment(Qt::AlignCenter);
    icon->setStyleSheet(QStringLiteral("background: transparent;"));
    m_header->addWidget(icon);
    auto *name = new QLabel(info.name);
    name->setObjectName(QStringLiteral("clientName"));
    name->setStyleSheet(QStringLiteral("font-weight: 600; font-size: 13px; background: transparent;"));
    name->setWordWrap(true);
    m_header->addWidget(name, 1);
    if (info.installed || info.configured) {
        auto *more = new QToolButton;
        more->setObjectName(QStringLiteral("clientMore"));
        more->setText(QStringLiteral("\u22ef"));
        Theme::setClass(more, "more-button");
        more->setToolTip(tr("Backups, the entry, the configuration file"));
        more->setAccessibleName(tr("More for %1").arg(info.name));
        more->setCursor(Qt::PointingHandCursor);
        // Outside the card's group: after an action the focus goes back to an action button.
        FocusKeeper::setKey(more, group + QLatin1String(":more"));
        connect(more, &QToolButton::clicked, this, [this, more] { emit menuRequested(m_id, more); });
        m_header->addWidget(more, 0, Qt::AlignTop);
    }

    const QString problems = entryProblems(info, permissionMode);
    if (!info.configured)
        m_badge = Theme::classedLabel(info.installed ? tr("Detected") : tr("Not installed"),
                                      info.installed ? "badge-neutral" : "badge-neutral-muted");
    else if (problems.isEmpty())
        m_badge = Theme::classedLabel(tr("Configured"), "badge-ok");
    else
        m_badge = Theme::classedLabel(tr("Needs update"), "badge-warning");
    m_badge->setObjectName(QStringLiteral("clientBadge"));
    m_badge->setToolTip(problems);
    m_badge->setAlignment(Qt::AlignCenter);
    m_badge->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    layout->addWidget(m_badge, 0, Qt::AlignLeft);

    layout->addStretch(0);

    if (!info.installed && !info.configured) {
        QLabel *hint = Theme::classedLabel(tr("Install the client to configure."), "faint");
        hint->setWordWrap(true);
        hint->setMinimumHeight(32);
        layout->addWidget(hint);
        return;
    }

    // (text, class, removes) per button, left to right.
    struct Action
    {
        QString text;
        const char *cls;
        bool remove;
    };
    QList<Action> actions;
    if (!info.configured) {
        actions << Action{tr("Configure"), "primary", false};
    } else {
        if (!problems.isEmpty())
            actions << Action{tr("Update"), "primary", false}; // the same write as Configure
        actions << Action{tr("Remove"), "secondary", true};
    }
    if (busy)
        actions = actions.mid(0, 1); // one "Working..." in their place

    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    layout->addLayout(row);
    m_actions = row;
    for (int i = 0; i < actions.size(); ++i) {
        const Action &action = actions.at(i);
        auto *button = new QPushButton(busy ? tr("Working...") : action.text);
        button->setObjectName(QStringLiteral("clientAction"));
        Theme::setClass(button, action.cls);
        button->setMinimumHeight(32);
        button->setAccessibleName(action.text + QLatin1Char(' ') + info.name);
        button->setCursor(Qt::PointingHandCursor);
        button->setEnabled(!busy);
        FocusKeeper::setKey(button, group + QLatin1Char(':') + QString::number(i), group);
        const bool remove = action.remove;
        connect(button, &QAbstractButton::clicked, this, [this, remove] { emit actionRequested(m_id, remove); });
        row->addWidget(button, 1);
    }
}

QSize ClientCard::minimumSizeHint() const
{
    // Narrower cards would break their names into one word a line.
    constexpr int floor = 170;
    QSize size = QFrame::minimumSizeHint();
    if (!m_actions || m_actions->count() < 2) {
        size.setWidth(std::max(size.width(), floor));
        return size;
    }
    int widest = 0;
    for (int i = 0; i < m_actions->count(); ++i)
        widest = std::max(widest, m_actions->itemAt(i)->minimumSize().width());
    const QMargins margins = layout()->contentsMargins();
    int header = 0;
    for (int i = 0; i < m_header->count(); ++i)
        header += m_header->itemAt(i)->minimumSize().width() + (i ? m_header->spacing() : 0);
    size.setWidth(std::max(floor, std::max({widest, header, m_badge->minimumSizeHint().width()}) + margins.left() +
                                      margins.right()));
    return size;
}

void ClientCard::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    if (!m_actions || m_actions->count() < 2)
        return;
    // Side by side where they fit at their natural width, else one above the other.
    int needed = m_actions->spacing() * (m_actions->count() - 1);
    for (int i = 0; i < m_actions->count(); ++i)
        needed += m_actions->itemAt(i)->sizeHint().width();
    const QMargins margins = layout()->contentsMargins();
    const auto direction =
        width() - margins.left() - margins.right() >= needed ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    if (m_actions->direction() != direction)
        m_actions->setDirection(direction);
}

QString ClientCard::entryProblems(const ClientInfo &info, const QString &permissionMode)
{
    if (!info.configured)
        return {};
    if (!info.entryValid)
        return tr("The entry is not an object");
    QStringList problems;
    if (info.command != QLatin1String("uvx") || info.args != QStringList{QStringLiteral("tavrin")}) {
        const QString actual = (QStringList{info.command} + info.args).join(QLatin1Char(' ')).trimmed();
        problems << (actual.isEmpty() ? tr("Starts no program instead of “%1”").arg(s_expected)
                                      : tr("Starts “%1” instead of “%2”").arg(actual, s_expected));
    }
    if (info.mode != permissionMode) {
        problems
            << (info.mode.isEmpty()
                    ? tr("Registered without a permission mode; Settings say %1").arg(modeName(permissionMode))
                    : tr("Registered with %1; Settings say %2").arg(modeName(info.mode), modeName(permissionMode)));
    }
    return problems.join(QLatin1Char('\n'));
}

QString ClientCard::modeName(const QString &mode)
{
    if (mode == QLatin1String("safe_edit"))
        return tr("Safe Edit");
    if (mode == QLatin1String("full_control"))
        return tr("Full Control");
    return QStringLiteral("“%1”").arg(mode);
}
