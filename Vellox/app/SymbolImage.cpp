#include "Vellox/app/SymbolImage.h"

#include "Vellox/panels/SymbolIcons.h"

#include <QPainter>
#include <QPainterPath>

#include <functional>
#include <unordered_map>

namespace SymbolImage {

namespace {

// Every drawing works in a unit square (0..1) scaled to the glyph size.
using Drawing = std::function<void(QPainter&, const QColor&)>;

QPainterPath bubble()
{
    QPainterPath path;
    path.addRoundedRect(QRectF(0.06, 0.12, 0.88, 0.62), 0.2, 0.2);
    QPainterPath tail;
    tail.moveTo(0.24, 0.68);
    tail.lineTo(0.18, 0.92);
    tail.lineTo(0.46, 0.72);
    return path.united(tail);
}

QPainterPath shield()
{
    QPainterPath path;
    path.moveTo(0.5, 0.04);
    path.cubicTo(0.66, 0.14, 0.8, 0.17, 0.9, 0.17);
    path.cubicTo(0.9, 0.6, 0.76, 0.84, 0.5, 0.97);
    path.cubicTo(0.24, 0.84, 0.1, 0.6, 0.1, 0.17);
    path.cubicTo(0.2, 0.17, 0.34, 0.14, 0.5, 0.04);
    path.closeSubpath();
    return path;
}

QPainterPath checkmark(qreal inset = 0)
{
    QPainterPath path;
    path.moveTo(0.12 + inset, 0.54);
    path.lineTo(0.4, 0.8 - inset);
    path.lineTo(0.88 - inset, 0.2 + inset);
    return path;
}

QPainterPath textLines(qreal left, qreal right, qreal top, int count, qreal gap)
{
    QPainterPath path;
    for (int i = 0; i < count; ++i) {
        const qreal y = top + i * gap;
        path.moveTo(left, y);
        path.lineTo(i == count - 1 ? left + (right - left) * 0.6 : right, y);
    }
    return path;
}

const std::unordered_map<std::string, Drawing>& drawings()
{
    static const std::unordered_map<std::string, Drawing> table = [] {
        std::unordered_map<std::string, Drawing> t;
        t["checkmark"] = [](QPainter& p, const QColor&) { p.drawPath(checkmark()); };
        t["checkmark.circle.fill"] = [](QPainter& p, const QColor& c) {
            QPainterPath circle;
            circle.addEllipse(QRectF(0.04, 0.04, 0.92, 0.92));
            p.fillPath(circle, c);
            QPen pen = p.pen();
            pen.setColor(Qt::white);
            p.setPen(pen);
            QPainterPath mark;
            mark.moveTo(0.3, 0.52);
            mark.lineTo(0.45, 0.67);
            mark.lineTo(0.72, 0.34);
            p.drawPath(mark);
        };
        t["chevron.down"] = [](QPainter& p, const QColor&) {
            p.drawPolyline(QPolygonF({{0.2, 0.36}, {0.5, 0.66}, {0.8, 0.36}}));
        };
        t["chevron.up"] = [](QPainter& p, const QColor&) {
            p.drawPolyline(QPolygonF({{0.2, 0.64}, {0.5, 0.34}, {0.8, 0.64}}));
        };
        t["arrow.up.right"] = [](QPainter& p, const QColor&) {
            p.drawLine(QPointF(0.22, 0.78), QPointF(0.78, 0.22));
            p.drawPolyline(QPolygonF({{0.36, 0.22}, {0.78, 0.22}, {0.78, 0.64}}));
        };
        t["questionmark.bubble"] = [](QPainter& p, const QColor& c) {
            p.drawPath(bubble());
            QPainterPath q;
            q.moveTo(0.39, 0.33);
            q.cubicTo(0.39, 0.2, 0.61, 0.2, 0.61, 0.33);
            q.cubicTo(0.61, 0.43, 0.5, 0.42, 0.5, 0.5);
            p.drawPath(q);
            p.setBrush(c);
            p.drawEllipse(QPointF(0.5, 0.6), 0.02, 0.02);
            p.setBrush(Qt::NoBrush);
        };
        t["text.bubble"] = [](QPainter& p, const QColor&) {
            p.drawPath(bubble());
            p.drawPath(textLines(0.28, 0.72, 0.34, 2, 0.16));
        };
        t["bubble.left"] = [](QPainter& p, const QColor&) { p.drawPath(bubble()); };
        t["lock.shield"] = [](QPainter& p, const QColor& c) {
            p.drawPath(shield());
            QPainterPath body;
            body.addRoundedRect(QRectF(0.36, 0.46, 0.28, 0.22), 0.04, 0.04);
            p.fillPath(body, c);
            p.drawArc(QRectF(0.41, 0.32, 0.18, 0.24), 0, 180 * 16);
        };
        t["lock.shield.fill"] = [](QPainter& p, const QColor& c) {
            p.fillPath(shield(), c);
            QPen pen = p.pen();
            pen.setColor(Qt::white);
            p.setPen(pen);
            QPainterPath body;
            body.addRoundedRect(QRectF(0.36, 0.46, 0.28, 0.22), 0.04, 0.04);
            p.fillPath(body, Qt::white);
            p.drawArc(QRectF(0.41, 0.32, 0.18, 0.24), 0, 180 * 16);
        };
        t["long.text.page.and.pencil"] = [](QPainter& p, const QColor&) {
            QPainterPath page;
            page.moveTo(0.56, 0.92);
            page.lineTo(0.14, 0.92);
            page.lineTo(0.14, 0.08);
            page.lineTo(0.7, 0.08);
            page.lineTo(0.7, 0.4);
            p.drawPath(page);
            p.drawPath(textLines(0.26, 0.58, 0.24, 4, 0.13));
            QPainterPath pencil;
            pencil.moveTo(0.5, 0.9);
            pencil.lineTo(0.54, 0.76);
            pencil.lineTo(0.84, 0.46);
            pencil.lineTo(0.94, 0.56);
            pencil.lineTo(0.64, 0.86);
            pencil.closeSubpath();
            p.drawPath(pencil);
        };
        return t;
    }();
    return table;
}

} // namespace

void paint(QPainter& painter, const QRectF& box, const QString& name, const QColor& color, qreal pixelSize,
           QFont::Weight weight)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const qreal side = pixelSize * 1.1;
    const QPointF origin(box.center().x() - side / 2, box.center().y() - side / 2);
    painter.translate(origin);
    painter.scale(side, side);
    const qreal strokePixels = weight >= QFont::DemiBold ? pixelSize / 7.0 : pixelSize / 10.0;
    QPen pen(color, strokePixels / side, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const auto found = drawings().find(name.toStdString());
    if (found != drawings().end()) {
        found->second(painter, color);
        painter.restore();
        return;
    }
    painter.restore();
    // Tone symbols look the same here as in the tone picker.
    SymbolIcons::paint(painter, box, name, pixelSize, color);
}

} // namespace SymbolImage
