#pragma once

#include <QList>
#include <QWidget>

class QGridLayout;

// Cards in rows of up to maxColumns, as many columns as the width allows: a narrow window gets
// fewer columns rather than a page that scrolls sideways. Tab order stays the order of addCard().
// Hidden cards take no place; after showing or hiding cards, call relayout().
class CardGrid : public QWidget
{
    Q_OBJECT
public:
    explicit CardGrid(int maxColumns, QWidget *parent = nullptr);

    void addCard(QWidget *card);
    void relayout();
    [[nodiscard]] int columnCount() const { return m_columns; }
    // The columns that fit `width`, given the widest minimum width of the cards.
    [[nodiscard]] int columnsFor(int width) const;

    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void arrange(int columns, bool force = false);
    [[nodiscard]] QList<QWidget *> shownCards() const;
    [[nodiscard]] int cardMinimumWidth() const;

    QGridLayout *m_grid;
    QList<QWidget *> m_cards;
    int m_maxColumns;
    int m_columns = 0;
};
