#pragma once

#include <QFrame>

class QGridLayout;
class QHBoxLayout;
class QVBoxLayout;

// A card with an icon, a column of text and its buttons: the buttons at the right end where the
// card is wide enough for them beside the text, else below the text, so that a narrow window
// never cuts them off. Subclasses add their lines to textColumn() and their buttons to actions(),
// and show, hide or relabel them as their state changes.
class ActionCard : public QFrame
{
    Q_OBJECT
public:
    // The icon is drawn in the accent colour, iconSize pixels in a square of labelSize.
    ActionCard(const QByteArray &icon, int iconSize, int labelSize, QWidget *parent = nullptr);

    [[nodiscard]] QVBoxLayout *textColumn() const { return m_text; }
    [[nodiscard]] QHBoxLayout *actions() const { return m_actions; }

    [[nodiscard]] QSize minimumSizeHint() const override;

    // Beside the text, the buttons stay at the card's top rather than its middle: for a card whose
    // text grows while the user may be about to click (a test's progress lines).
    void keepActionsAtTop();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeActions(bool beside);

    QGridLayout *m_grid;
    QVBoxLayout *m_text;
    QHBoxLayout *m_actions;
    bool m_beside = true;
    Qt::Alignment m_besideAlignment = Qt::AlignVCenter;
};
