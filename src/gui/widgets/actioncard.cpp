#include "gui/widgets/actioncard.h"

#include "gui/widgets/icons.h"
#include "gui/widgets/theme.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QResizeEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// Below this width the text column would wrap into a narrow strip beside the buttons.
constexpr int s_textMinimum = 160;
} // namespace

ActionCard::ActionCard(const QByteArray &icon, int iconSize, int labelSize, QWidget *parent)
    : QFrame(parent), m_grid(new QGridLayout(this)), m_text(new QVBoxLayout), m_actions(new QHBoxLayout)
{
    Theme::setClass(this, "card");
    auto *iconLabel = new QLabel;
    iconLabel->setPixmap(Icons::cached(icon, QLatin1String(Theme::Palette::Accent), iconSize, devicePixelRatioF()));
    iconLabel->setFixedSize(labelSize, labelSize);
    Theme::setClass(iconLabel, "icon");
    m_grid->setVerticalSpacing(10);
    m_grid->addWidget(iconLabel, 0, 0, Qt::AlignTop);
    m_grid->addLayout(m_text, 0, 1);
    m_grid->setColumnStretch(1, 1);
    m_text->setSpacing(2);
    m_grid->addLayout(m_actions, 0, 2, Qt::AlignVCenter);
}

QSize ActionCard::minimumSizeHint() const
{
    // As narrow as it gets with the buttons below the text.
    const QMargins margins = m_grid->contentsMargins() + contentsMargins();
    const int icon = m_grid->itemAtPosition(0, 0)->minimumSize().width() + m_grid->horizontalSpacing();
    const int below = std::max({m_text->minimumSize().width(), m_actions->minimumSize().width(), s_textMinimum});
    QSize size = QFrame::minimumSizeHint();
    size.setWidth(margins.left() + icon + below + margins.right());
    return size;
}

void ActionCard::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    const QMargins margins = m_grid->contentsMargins() + contentsMargins();
    const int icon = m_grid->itemAtPosition(0, 0)->minimumSize().width() + m_grid->horizontalSpacing();
    const int room = event->size().width() - margins.left() - margins.right() - icon;
    placeActions(m_actions->isEmpty() || room >= std::max(m_text->minimumSize().width(), s_textMinimum) +
                                                     m_grid->horizontalSpacing() + m_actions->sizeHint().width());
}

void ActionCard::keepActionsAtTop()
{
    m_besideAlignment = Qt::AlignTop;
    if (m_beside) {
        m_grid->removeItem(m_actions);
        m_grid->addLayout(m_actions, 0, 2, m_besideAlignment);
    }
}

void ActionCard::placeActions(bool beside)
{
    if (beside == m_beside)
        return;
    m_beside = beside;
    m_grid->removeItem(m_actions);
    if (beside)
        m_grid->addLayout(m_actions, 0, 2, m_besideAlignment);
    else
        m_grid->addLayout(m_actions, 1, 1, Qt::AlignLeft);
}
