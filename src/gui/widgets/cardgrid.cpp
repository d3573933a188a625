#include "gui/widgets/cardgrid.h"

#include <QGridLayout>
#include <QResizeEvent>

#include <algorithm>

CardGrid::CardGrid(int maxColumns, QWidget *parent)
    : QWidget(parent), m_grid(new QGridLayout(this)), m_maxColumns(std::max(1, maxColumns))
{
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setSpacing(12);
    // The grid's own minimum (all columns side by side) must not become ours: that is what would
    // push the page sideways. Ours is one card; resizeEvent() arranges for the rest.
    m_grid->setSizeConstraint(QLayout::SetNoConstraint);
    arrange(m_maxColumns);
}

void CardGrid::addCard(QWidget *card)
{
    m_cards.append(card);
    card->setParent(this);
    arrange(m_columns, true);
}

void CardGrid::relayout()
{
    arrange(width() > 0 ? columnsFor(width()) : m_columns, true);
}

QList<QWidget *> CardGrid::shownCards() const
{
    QList<QWidget *> shown;
    for (QWidget *card : m_cards) {
        if (!card->isHidden())
            shown << card;
    }
    return shown;
}

int CardGrid::cardMinimumWidth() const
{
    int widest = 0;
    for (const QWidget *card : shownCards())
        widest = std::max(widest, std::max(card->minimumSizeHint().width(), card->minimumWidth()));
    return widest;
}

int CardGrid::columnsFor(int width) const
{
    const int card = cardMinimumWidth();
    if (card <= 0)
        return m_maxColumns;
    const int spacing = m_grid->horizontalSpacing();
    return std::clamp((width + spacing) / (card + spacing), 1, m_maxColumns);
}

QSize CardGrid::minimumSizeHint() const
{
    // As tall as the cards need in the columns we have now; as narrow as one card.
    return {cardMinimumWidth(), m_grid->minimumSize().height()};
}

void CardGrid::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    arrange(columnsFor(event->size().width()));
}

void CardGrid::arrange(int columns, bool force)
{
    if (columns == m_columns && !force)
        return;
    for (QWidget *card : std::as_const(m_cards))
        m_grid->removeWidget(card);
    for (int column = 0; column < m_maxColumns; ++column)
        m_grid->setColumnStretch(column, column < columns ? 1 : 0);
    m_columns = columns;
    const QList<QWidget *> shown = shownCards();
    for (int i = 0; i < shown.size(); ++i)
        m_grid->addWidget(shown.at(i), i / columns, i % columns);
    updateGeometry();
}
