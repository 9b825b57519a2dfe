// The picker's colour panel: a saturation/lightness square beside a hue strip, without alpha.
#pragma once

#include <QImage>
#include <QWidget>

#include "colour/ColorForm1_codes.h"

namespace parvula::colour {

// Holds one opaque colour. A colour set from code keeps its exact red, green and blue; hue,
// saturation and lightness are derived from it only to draw the markers and to interpret the
// user's picks, so no rounding through HSL ever alters a colour that was set.
class TColorPanel : public QWidget {
    Q_OBJECT

public:
    explicit TColorPanel(QWidget* parent = nullptr);

    // Always with alpha FF.
    TAlphaColor Color() const { return m_color; }
    // Raises no Changed(); the alpha of c is ignored. Setting the held colour changes nothing.
    void SetColor(TAlphaColor c);

    // Where the parts sit, in widget coordinates.
    QRect SquareRect() const;
    QRect HueRect() const;

    QSize sizeHint() const override { return QSize(187, 163); }

signals:
    // Only for the user's picks on the square or the strip.
    void Changed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    enum class TDrag { None, Square, Hue };

    void PickAt(const QPoint& pos);
    void RebuildSquare();
    void RebuildStrip();

    TAlphaColor m_color = 0xFFFFFFFFu;
    // Hue 0..1; kept when a grey (which has no hue) or black/white (no saturation) is set.
    double m_hue = 0.0;
    double m_saturation = 0.0;
    double m_lightness = 1.0;
    TDrag m_drag = TDrag::None;
    QImage m_square;
    QImage m_strip;
    double m_squareHue = -1.0;
};

} // namespace parvula::colour
