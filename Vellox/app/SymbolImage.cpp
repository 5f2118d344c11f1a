#include "Vellox/app/SymbolImage.h"

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

QPainterPath star(qreal cx, qreal cy, qreal r)
{
    QPainterPath path;
    path.moveTo(cx, cy - r);
    path.quadTo(cx, cy, cx + r, cy);
    path.quadTo(cx, cy, cx, cy + r);
    path.quadTo(cx, cy, cx - r, cy);
    path.quadTo(cx, cy, cx, cy - r);
    return path;
}

void strokeAndMaybeFill(QPainter& p, const QPainterPath& path, const QColor& c, bool fill)
{
    if (fill)
        p.fillPath(path, c);
    else
        p.drawPath(path);
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
        const auto doc = [](QPainter& p, const QColor& c, bool fill) {
            QPainterPath page;
            page.addRoundedRect(QRectF(0.18, 0.06, 0.64, 0.88), 0.08, 0.08);
            strokeAndMaybeFill(p, page, c, fill);
            if (fill) {
                QPen pen = p.pen();
                pen.setColor(Qt::white);
                p.setPen(pen);
            }
            p.drawPath(textLines(0.32, 0.68, 0.3, 3, 0.17));
        };
        t["doc.text"] = [doc](QPainter& p, const QColor& c) { doc(p, c, false); };
        t["doc.text.fill"] = [doc](QPainter& p, const QColor& c) { doc(p, c, true); };
        t["text.alignleft"] = [](QPainter& p, const QColor&) { p.drawPath(textLines(0.12, 0.88, 0.2, 4, 0.2)); };
        t["list.number"] = [](QPainter& p, const QColor&) { p.drawPath(textLines(0.36, 0.9, 0.25, 3, 0.25)); };
        const auto envelope = [](QPainter& p, const QColor& c, bool fill) {
            QPainterPath box;
            box.addRoundedRect(QRectF(0.06, 0.2, 0.88, 0.6), 0.08, 0.08);
            strokeAndMaybeFill(p, box, c, fill);
            if (fill) {
                QPen pen = p.pen();
                pen.setColor(Qt::white);
                p.setPen(pen);
            }
            p.drawPolyline(QPolygonF({{0.1, 0.26}, {0.5, 0.56}, {0.9, 0.26}}));
        };
        t["envelope"] = [envelope](QPainter& p, const QColor& c) { envelope(p, c, false); };
        t["envelope.fill"] = [envelope](QPainter& p, const QColor& c) { envelope(p, c, true); };
        t["sparkles"] = [](QPainter& p, const QColor& c) {
            p.fillPath(star(0.42, 0.56, 0.36), c);
            p.fillPath(star(0.78, 0.22, 0.16), c);
        };
        t["pencil"] = [](QPainter& p, const QColor&) {
            QPainterPath pencil;
            pencil.moveTo(0.12, 0.88);
            pencil.lineTo(0.18, 0.66);
            pencil.lineTo(0.7, 0.14);
            pencil.lineTo(0.86, 0.3);
            pencil.lineTo(0.34, 0.82);
            pencil.closeSubpath();
            p.drawPath(pencil);
        };
        t["globe"] = [](QPainter& p, const QColor&) {
            p.drawEllipse(QRectF(0.08, 0.08, 0.84, 0.84));
            p.drawEllipse(QRectF(0.3, 0.08, 0.4, 0.84));
            p.drawLine(QPointF(0.08, 0.5), QPointF(0.92, 0.5));
        };
        t["heart.fill"] = [](QPainter& p, const QColor& c) {
            QPainterPath heart;
            heart.moveTo(0.5, 0.88);
            heart.cubicTo(0.1, 0.6, 0.02, 0.38, 0.16, 0.22);
            heart.cubicTo(0.3, 0.08, 0.46, 0.16, 0.5, 0.3);
            heart.cubicTo(0.54, 0.16, 0.7, 0.08, 0.84, 0.22);
            heart.cubicTo(0.98, 0.38, 0.9, 0.6, 0.5, 0.88);
            p.fillPath(heart, c);
        };
        t["briefcase.fill"] = [](QPainter& p, const QColor& c) {
            QPainterPath body;
            body.addRoundedRect(QRectF(0.06, 0.3, 0.88, 0.56), 0.08, 0.08);
            p.fillPath(body, c);
            p.drawRoundedRect(QRectF(0.34, 0.14, 0.32, 0.16), 0.04, 0.04);
        };
        t["lightbulb.fill"] = [](QPainter& p, const QColor& c) {
            QPainterPath bulb;
            bulb.addEllipse(QRectF(0.22, 0.04, 0.56, 0.56));
            p.fillPath(bulb, c);
            p.drawLine(QPointF(0.38, 0.74), QPointF(0.62, 0.74));
            p.drawLine(QPointF(0.4, 0.88), QPointF(0.6, 0.88));
        };
        return t;
    }();
    return table;
}

void paintFallback(QPainter& p, const QString& name, const QColor& c)
{
    // Families read best when a filled name stays filled and an outlined one
    // stays outlined; the shape itself is a neutral rounded mark.
    QPainterPath mark;
    mark.addRoundedRect(QRectF(0.16, 0.16, 0.68, 0.68), 0.2, 0.2);
    if (name.endsWith(QLatin1String(".fill"))) {
        p.fillPath(mark, c);
    } else {
        p.drawPath(mark);
        p.fillPath(star(0.5, 0.5, 0.2), c);
    }
}

} // namespace

bool hasDrawing(const QString& name)
{
    return drawings().count(name.toStdString()) > 0;
}

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
    if (found != drawings().end())
        found->second(painter, color);
    else
        paintFallback(painter, name, color);
    painter.restore();
}

} // namespace SymbolImage
