#include "gui/widgets/elidedlabel.h"

#include <QEvent>
#include <QResizeEvent>

namespace {
// Enough to recognise the start and the end of a path.
constexpr int s_minimumChars = 10;
} // namespace

ElidedLabel::ElidedLabel(const QString &text, QWidget *parent, Qt::TextElideMode mode) : QLabel(parent), m_mode(mode)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setFullText(text);
}

void ElidedLabel::setFullText(const QString &text)
{
    m_fullText = text;
    setToolTip(text);
    updateGeometry();
    elide();
}

QSize ElidedLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(m_fullText) + margins.left() + margins.right() + 2 * margin(),
            QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    const int chars = fontMetrics().averageCharWidth() * s_minimumChars;
    return {qMin(chars, sizeHint().width()) + margins.left() + margins.right(), QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    // A style sheet sets the font when the label is polished, after it was first elided.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        elide();
}

void ElidedLabel::elide()
{
    // Until the style has given the label its font and the layout its width, any elision would be
    // measured in the wrong font for the wrong width: both arrive before it is first shown.
    if (!testAttribute(Qt::WA_WState_Polished)) {
        QLabel::setText(m_fullText);
        return;
    }
    const QString shown = fontMetrics().elidedText(m_fullText, m_mode, contentsRect().width() - 2 * margin());
    if (shown != text())
        QLabel::setText(shown);
}
