#include "uStateIcons.h"

#include "uStateMarks.h"

#include <QBrush>
#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <array>

namespace kelvora {

namespace {

QColor MarkColor(TStateMark Mark)
{
    switch (Mark) {
    case smSigned:
        return QColor(0x1e, 0x6f, 0xc8);
    case smSent:
        return QColor(0x3b, 0x8e, 0xa5);
    case smOpened:
    case smAccepted:
        return QColor(0x2e, 0x8b, 0x3c);
    case smError:
        return QColor(0xc6, 0x28, 0x28);
    case smOverdue:
        return QColor(0xd9, 0x7a, 0x00);
    default:
        return QColor(0x8a, 0x8a, 0x8a);
    }
}

// A small picture per mark: its shape tells the state without its colour
// (a tick, a cross, an exclamation mark in a triangle, an arrow, a pen's
// stroke, an empty circle).
QIcon Draw(TStateMark Mark)
{
    constexpr int Size = 16;
    QPixmap Pixmap(Size, Size);
    Pixmap.fill(Qt::transparent);
    QPainter Painter(&Pixmap);
    Painter.setRenderHint(QPainter::Antialiasing);
    const QColor Color = MarkColor(Mark);
    QPen Line(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (Mark == smOverdue) {
        QPainterPath Triangle;
        Triangle.moveTo(8, 1);
        Triangle.lineTo(15, 14.5);
        Triangle.lineTo(1, 14.5);
        Triangle.closeSubpath();
        Painter.fillPath(Triangle, Color);
        Painter.setPen(Line);
        Painter.drawLine(QPointF(8, 5.5), QPointF(8, 9.5));
        Painter.drawPoint(QPointF(8, 12.3));
        return QIcon(Pixmap);
    }
    if (Mark == smWaiting) {
        Painter.setPen(QPen(Color, 1.6));
        Painter.drawEllipse(QRectF(2.5, 2.5, 11, 11));
        Painter.drawLine(QPointF(8, 5), QPointF(8, 8.3));
        Painter.drawLine(QPointF(8, 8.3), QPointF(10.3, 9.6));
        return QIcon(Pixmap);
    }
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(Color);
    Painter.drawEllipse(QRectF(1, 1, 14, 14));
    Painter.setPen(Line);
    switch (Mark) {
    case smOpened:
    case smAccepted:
        Painter.drawPolyline(QPolygonF({QPointF(4.5, 8.2), QPointF(7, 10.8), QPointF(11.5, 5.2)}));
        break;
    case smError:
        Painter.drawLine(QPointF(5.2, 5.2), QPointF(10.8, 10.8));
        Painter.drawLine(QPointF(10.8, 5.2), QPointF(5.2, 10.8));
        break;
    case smSent:
        Painter.drawLine(QPointF(4.5, 8), QPointF(11, 8));
        Painter.drawPolyline(QPolygonF({QPointF(8.3, 5.2), QPointF(11.2, 8), QPointF(8.3, 10.8)}));
        break;
    default: // signed: a pen's stroke
        Painter.drawLine(QPointF(5, 11), QPointF(11, 5));
        Painter.drawPoint(QPointF(4.6, 11.4));
        break;
    }
    return QIcon(Pixmap);
}

QVariant Look(TStateMark Mark, int Role)
{
    static const std::array<QIcon, smOverdue + 1> Icons = [] {
        std::array<QIcon, smOverdue + 1> Result;
        for (int Mark = smWaiting; Mark <= smOverdue; ++Mark)
            Result[size_t(Mark)] = Draw(static_cast<TStateMark>(Mark));
        return Result;
    }();
    switch (Role) {
    case Qt::DecorationRole:
        return Mark > smNone && Mark <= smOverdue ? QVariant(Icons[size_t(Mark)]) : QVariant();
    case Qt::ForegroundRole:
        if (Mark == smError || Mark == smOverdue)
            return QBrush(Mark == smError ? QColor(0x9b, 0x1c, 0x1c) : QColor(0x7a, 0x45, 0x00));
        return QVariant();
    case Qt::BackgroundRole:
        if (Mark == smError || Mark == smOverdue)
            return QBrush(Mark == smError ? QColor(0xfd, 0xe7, 0xe7) : QColor(0xff, 0xf3, 0xd6));
        return QVariant();
    default:
        return QVariant();
    }
}

} // namespace

void InstallStateIcons() { SetStatePainter(&Look); }

} // namespace kelvora
