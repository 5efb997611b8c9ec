#include "app/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

// The resources of a static library are registered by hand.
static void registerIcons() {
    Q_INIT_RESOURCE(Icons);
}

namespace quill {

QPixmap bannerPicture() {
    QPixmap pixmap(290, 60);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, 290, 60);
    sky.setColorAt(0, QColor(18, 52, 96));
    sky.setColorAt(1, QColor(36, 120, 150));
    p.fillRect(pixmap.rect(), sky);

    // A quill on the left, its nib resting on a line of script.
    QPainterPath feather(QPointF(20, 52));
    feather.cubicTo(24, 30, 40, 12, 58, 6);
    feather.cubicTo(52, 22, 40, 38, 20, 52);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(240, 244, 250));
    p.drawPath(feather);
    p.setPen(QPen(QColor(18, 52, 96), 1.2));
    p.drawLine(QPointF(21, 50), QPointF(52, 12));
    p.setPen(QPen(QColor(240, 244, 250, 150), 1.5, Qt::DashLine));
    p.drawLine(QPointF(14, 54), QPointF(60, 54));

    QFont title("DejaVu Sans");
    title.setPixelSize(26);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRectF(72, 4, 210, 32), Qt::AlignLeft | Qt::AlignVCenter, "Quillstep");

    QFont subtitle;
    subtitle.setFamilies({"WenQuanYi Micro Hei", "Noto Sans CJK SC"});
    subtitle.setPixelSize(13);
    p.setFont(subtitle);
    p.setPen(QColor(200, 225, 240));
    p.drawText(QRectF(74, 36, 210, 20), Qt::AlignLeft | Qt::AlignVCenter,
               "SQL Server 数据库降级工具");
    return pixmap;
}

QImage pointingHandImage() {
    // X outline, o fill, . transparent.
    static const char* const rows[32] = {
        "................................", "................................",
        "................................", "................................",
        "...........XXX..................", "..........XoooX.................",
        "..........XoooX.................", "..........XoooX.................",
        "..........XoooX.................", "..........XoooXXXX..............",
        "..........XoooXoooXXXX..........", "..........XoooXoooXoooXXX.......",
        "..........XoooXoooXoooXooX......", "......XXX.XoooXoooXoooXooX......",
        ".....XoooXXooooooooooooooX......", ".....XooooXooooooooooooooX......",
        "......XoooXooooooooooooooX......", "......XooooooooooooooooooX......",
        ".......XoooooooooooooooooX......", ".......XooooooooooooooooX.......",
        "........XoooooooooooooooX.......", "........XooooooooooooooX........",
        ".........XoooooooooooooX........", ".........XoooooooooooooX........",
        ".........XXXXXXXXXXXXXXX........", "................................",
        "................................", "................................",
        "................................", "................................",
        "................................", "................................",
    };
    QImage image(32, 32, QImage::Format_ARGB32);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const char c = rows[y][x];
            image.setPixel(x, y,
                           c == 'X'   ? qRgba(0, 0, 0, 255)
                           : c == 'o' ? qRgba(255, 255, 255, 255)
                                      : 0);
        }
    }
    return image;
}

QCursor pointingHandCursor() {
    return QCursor(QPixmap::fromImage(pointingHandImage()), kHandHotSpotX, kHandHotSpotY);
}

QIcon programIcon() {
    registerIcons();
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/icons/%1.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace quill
