// The picker's colour panel: a saturation/lightness square beside a hue strip, without alpha.
#include "colour/ui/ColorForm1_form_panel.h"

#include <algorithm>
#include <cmath>

#include <QColor>
#include <QMouseEvent>
#include <QPainter>

namespace parvula::colour {

namespace {

    constexpr int kStripWidth = 18;
    constexpr int kGap = 4;

    double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

    // Fraction of a position along a span of n pixels: the first pixel is 0, the last 1.
    double Fraction(int pos, int n) { return n > 1 ? Clamp01(double(pos) / double(n - 1)) : 0.0; }

    QRgb FromHsl(double h, double s, double l)
    {
        // QColor wants hue in [0, 1]; 1 is the same red as 0.
        return QColor::fromHslF(float(h >= 1.0 ? 0.0 : h), float(s), float(l)).rgb();
    }

} // namespace

TColorPanel::TColorPanel(QWidget* parent)
    : QWidget(parent)
{
    setCursor(Qt::CrossCursor);
}

void TColorPanel::SetColor(TAlphaColor c)
{
    c |= 0xFF000000u;
    if (c == m_color)
        return;
    m_color = c;
    float h = 0;
    float s = 0;
    float l = 0;
    QColor::fromRgb(QRgb(c)).getHslF(&h, &s, &l);
    // A grey has no hue (Qt reports -1) and black or white no saturation: keep the previous
    // ones, so the markers do not jump for colours that do not define them.
    if (h >= 0 && s > 0)
        m_hue = h;
    if (l > 0 && l < 1)
        m_saturation = s;
    m_lightness = l;
    update();
}

QRect TColorPanel::SquareRect() const
{
    return QRect(1, 1, std::max(1, width() - kStripWidth - kGap - 2), std::max(1, height() - 2));
}

QRect TColorPanel::HueRect() const
{
    return QRect(
        std::max(0, width() - kStripWidth + 1), 1, kStripWidth - 2, std::max(1, height() - 2));
}

void TColorPanel::RebuildSquare()
{
    const QRect r = SquareRect();
    if (m_square.size() == r.size() && m_squareHue == m_hue)
        return;
    m_square = QImage(r.size(), QImage::Format_RGB32);
    for (int y = 0; y < r.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_square.scanLine(y));
        const double l = 1.0 - Fraction(y, r.height());
        for (int x = 0; x < r.width(); ++x)
            line[x] = FromHsl(m_hue, Fraction(x, r.width()), l);
    }
    m_squareHue = m_hue;
}

void TColorPanel::RebuildStrip()
{
    const QRect r = HueRect();
    if (m_strip.size() == r.size())
        return;
    m_strip = QImage(r.size(), QImage::Format_RGB32);
    for (int y = 0; y < r.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(m_strip.scanLine(y));
        std::fill(line, line + r.width(), FromHsl(Fraction(y, r.height()), 1.0, 0.5));
    }
}

void TColorPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_square = QImage();
    m_strip = QImage();
}

void TColorPanel::paintEvent(QPaintEvent*)
{
    RebuildSquare();
    RebuildStrip();
    QPainter p(this);
    // The gap between the parts is left unpainted, so the dialog's swatch colour shows there.
    const QRect sq = SquareRect();
    const QRect hue = HueRect();
    p.drawImage(sq.topLeft(), m_square);
    p.drawImage(hue.topLeft(), m_strip);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(sq.adjusted(-1, -1, 0, 0));
    p.drawRect(hue.adjusted(-1, -1, 0, 0));

    p.setRenderHint(QPainter::Antialiasing);
    const QPointF at(sq.left() + m_saturation * (sq.width() - 1),
        sq.top() + (1.0 - m_lightness) * (sq.height() - 1));
    // A ring that stays visible on light and dark colours alike.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, 1));
    p.drawEllipse(at, 5, 5);
    p.setPen(QPen(Qt::white, 1));
    p.drawEllipse(at, 4, 4);

    const double y = hue.top() + m_hue * (hue.height() - 1);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::black, 1));
    p.drawRect(QRectF(hue.left(), y - 2, hue.width() - 1, 4));
    p.setPen(QPen(Qt::white, 1));
    p.drawLine(QPointF(hue.left() + 1, y), QPointF(hue.right() - 1, y));
}

void TColorPanel::PickAt(const QPoint& pos)
{
    if (m_drag == TDrag::Square) {
        const QRect r = SquareRect();
        m_saturation = Fraction(pos.x() - r.left(), r.width());
        m_lightness = 1.0 - Fraction(pos.y() - r.top(), r.height());
    } else if (m_drag == TDrag::Hue) {
        const QRect r = HueRect();
        m_hue = Fraction(pos.y() - r.top(), r.height());
    } else {
        return;
    }
    // The marker stays where the user put it; only the reported colour is rounded to 8 bits.
    const TAlphaColor c = 0xFF000000u | FromHsl(m_hue, m_saturation, m_lightness);
    const bool changed = c != m_color;
    m_color = c;
    update();
    if (changed)
        emit Changed();
}

void TColorPanel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    if (SquareRect().contains(pos))
        m_drag = TDrag::Square;
    else if (HueRect().contains(pos))
        m_drag = TDrag::Hue;
    else
        m_drag = TDrag::None;
    PickAt(pos);
}

void TColorPanel::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        PickAt(event->position().toPoint());
}

void TColorPanel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_drag = TDrag::None;
}

} // namespace parvula::colour
