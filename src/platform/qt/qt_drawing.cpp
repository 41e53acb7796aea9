#include "platform/qt/qt_drawing.h"

#include <QBitmap>
#include <QColor>
#include <QPainter>
#include <algorithm>
#include <tuple>

namespace vel::platform {

QColor ToQColor(Colour colour)
{
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

QCursor ToQCursor(const CursorImage& cursor)
{
    uchar image[32 * 4];
    uchar mask[32 * 4];
    for (int row = 0; row < 32; ++row)
        for (int byte = 0; byte < 4; ++byte) {
            const int shift = 24 - 8 * byte;  // most significant bit leftmost
            image[row * 4 + byte] = static_cast<uchar>((cursor.image[static_cast<std::size_t>(row)] >> shift) & 0xFF);
            mask[row * 4 + byte] = static_cast<uchar>((cursor.mask[static_cast<std::size_t>(row)] >> shift) & 0xFF);
        }
    const QBitmap bitmap = QBitmap::fromData(QSize(32, 32), image, QImage::Format_Mono);
    const QBitmap opaque = QBitmap::fromData(QSize(32, 32), mask, QImage::Format_Mono);
    return QCursor(bitmap, opaque, cursor.hotX, cursor.hotY);
}

QPixmap ProgramIconPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    const QColor rim(0x1f, 0x3b, 0x6e);
    painter.setPen(QPen(rim, std::max(1.0, s * 0.08)));
    painter.setBrush(QColor(0xfb, 0xfb, 0xf2));
    painter.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
    painter.translate(s / 2, s / 2);
    for (int hour = 0; hour < 12; ++hour) {
        painter.save();
        painter.rotate(30.0 * hour);
        painter.setPen(QPen(rim, std::max(1.0, hour % 3 == 0 ? s * 0.06 : s * 0.03)));
        painter.drawLine(QPointF(0, -s * 0.35), QPointF(0, hour % 3 == 0 ? -s * 0.27 : -s * 0.31));
        painter.restore();
    }
    // Ten past ten.
    for (const auto& [degrees, width, length] : {std::tuple(-55.0, 0.07, 0.20), std::tuple(60.0, 0.05, 0.30)}) {
        painter.setPen(QPen(QColor(0x20, 0x20, 0x20), std::max(1.0, s * width), Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(degrees);
        painter.drawLine(QPointF(0, 0), QPointF(0, -s * length));
        painter.restore();
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xc0, 0x20, 0x20));
    painter.drawEllipse(QPointF(0, 0), s * 0.06, s * 0.06);
    return pixmap;
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(ProgramIconPixmap(size));
    return icon;
}

}  // namespace vel::platform
