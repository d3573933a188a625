#pragma once

#include <QLabel>

// A one-line label for text that may not fit, such as a file path: shows as much as the width it
// is given allows, with "…" in place of the rest, and the whole text in its tool tip. Its minimum
// is a few characters' width, so it cannot push its neighbours out of view.
class ElidedLabel : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(QString fullText READ fullText WRITE setFullText)
public:
    explicit ElidedLabel(const QString &text = QString(), QWidget *parent = nullptr,
                         Qt::TextElideMode mode = Qt::ElideMiddle);

    void setFullText(const QString &text);
    [[nodiscard]] QString fullText() const { return m_fullText; }
    [[nodiscard]] bool isElided() const { return text() != m_fullText; }

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void elide();

    QString m_fullText;
    Qt::TextElideMode m_mode;
};
