#pragma once

#include "ui/toolkit/TextLabel.h"

// A one-line label that ends in "…" when its text does not fit; line feeds show as blanks.
// The whole text is its tool tip while it is cut.
class ElidedLabel : public TextLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString &text = QString(), QWidget *parent = nullptr);

    // The text as drawn at the current width.
    QString displayedText() const;
    bool isElided() const { return displayedText() != oneLineText(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    QString oneLineText() const;
};
