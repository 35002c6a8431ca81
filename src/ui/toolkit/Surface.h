#pragma once

#include "ui/toolkit/Style.h"

#include <QWidget>

#include <optional>

// A plain container that paints a fill and an optional border behind its children. Padding is
// its contents margins.
class Surface : public QWidget {
    Q_OBJECT
public:
    explicit Surface(QWidget *parent = nullptr);

    void setFill(std::optional<ColorRef> fill);
    std::optional<ColorRef> fill() const { return m_fill; }
    // Corners: 0 for square ones; otherwise continuous rounded corners of this radius.
    void setCornerRadius(qreal radius);
    qreal cornerRadius() const { return m_radius; }
    // A border of `width` drawn just inside the edge.
    void setBorder(std::optional<ColorRef> color, qreal width = 1.0);
    std::optional<ColorRef> border() const { return m_border; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    std::optional<ColorRef> m_fill;
    std::optional<ColorRef> m_border;
    qreal m_borderWidth = 1.0;
    qreal m_radius = 0;
};
