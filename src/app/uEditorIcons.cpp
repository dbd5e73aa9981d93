#include "uEditorIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <QtMath>

namespace kelvora {

namespace {

const QColor kInk(0x2d, 0x5f, 0x8f);
const QColor kGold(0xe0, 0xa8, 0x00);

QPixmap Draw(TEditorIcon Icon, int Size)
{
    QPixmap Pixmap(Size, Size);
    Pixmap.fill(Qt::transparent);
    QPainter P(&Pixmap);
    P.setRenderHint(QPainter::Antialiasing);
    P.scale(Size / 16.0, Size / 16.0);
    QPen Pen(kInk, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    P.setPen(Pen);
    switch (Icon) {
    case eiAdd:
        P.setPen(QPen(QColor(0x2e, 0x8b, 0x3e), 2.4, Qt::SolidLine, Qt::RoundCap));
        P.drawLine(QPointF(8, 3), QPointF(8, 13));
        P.drawLine(QPointF(3, 8), QPointF(13, 8));
        break;
    case eiEdit: {
        QPolygonF Pencil({QPointF(3, 13), QPointF(4, 10), QPointF(11, 3), QPointF(13, 5), QPointF(6, 12)});
        P.setBrush(QColor(0xf4, 0xd0, 0x6f));
        P.drawPolygon(Pencil);
        P.drawLine(QPointF(9.5, 4.5), QPointF(11.5, 6.5));
        break;
    }
    case eiDelete:
        P.setPen(QPen(QColor(0xc0, 0x30, 0x30), 2.4, Qt::SolidLine, Qt::RoundCap));
        P.drawLine(QPointF(4, 4), QPointF(12, 12));
        P.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    case eiDefault: {
        QPolygonF Star;
        for (int I = 0; I < 10; ++I) {
            const qreal Radius = I % 2 ? 3.0 : 7.0;
            const qreal Angle = qDegreesToRadians(-90.0 + I * 36.0);
            Star << QPointF(8 + Radius * qCos(Angle), 8.5 + Radius * qSin(Angle));
        }
        P.setPen(QPen(kGold.darker(130), 1.0));
        P.setBrush(kGold);
        P.drawPolygon(Star);
        break;
    }
    case eiFolder: {
        QPainterPath Folder;
        Folder.moveTo(1.5, 4);
        Folder.lineTo(6, 4);
        Folder.lineTo(7.5, 5.5);
        Folder.lineTo(14.5, 5.5);
        Folder.lineTo(14.5, 13);
        Folder.lineTo(1.5, 13);
        Folder.closeSubpath();
        P.setPen(QPen(QColor(0xb0, 0x80, 0x10), 1.0));
        P.setBrush(QColor(0xf2, 0xc2, 0x4f));
        P.drawPath(Folder);
        break;
    }
    case eiHelp: {
        P.setBrush(kInk);
        P.setPen(Qt::NoPen);
        P.drawEllipse(QPointF(8, 8), 7, 7);
        QFont Font;
        Font.setBold(true);
        Font.setPixelSize(11);
        P.setFont(Font);
        P.setPen(Qt::white);
        P.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case eiShowPassword: {
        QPainterPath Eye;
        Eye.moveTo(1.5, 8);
        Eye.quadTo(8, 1.5, 14.5, 8);
        Eye.quadTo(8, 14.5, 1.5, 8);
        P.drawPath(Eye);
        P.setBrush(kInk);
        P.drawEllipse(QPointF(8, 8), 2.2, 2.2);
        break;
    }
    }
    return Pixmap;
}

const char* ThemeName(TEditorIcon Icon)
{
    switch (Icon) {
    case eiAdd:
        return "list-add";
    case eiEdit:
        return "document-edit";
    case eiDelete:
        return "edit-delete";
    case eiDefault:
        return "starred";
    case eiFolder:
        return "folder-open";
    case eiHelp:
        return "help-browser";
    case eiShowPassword:
        return "view-reveal";
    }
    return "";
}

} // namespace

QIcon EditorIcon(TEditorIcon Icon)
{
    QIcon Drawn;
    for (int Size : {16, 24, 32, 48})
        Drawn.addPixmap(Draw(Icon, Size));
    return QIcon::fromTheme(QString::fromLatin1(ThemeName(Icon)), Drawn);
}

} // namespace kelvora
