// Draws the desktop program's icons (32 by 32 tool bar icons and the 128 by 128 program icon)
// into a folder as PNG files. Run by hand when an icon changes; the PNGs are committed and
// compiled into the program (gui.qrc):
//   QT_QPA_PLATFORM=offscreen build/bin/make_icons app/gui/icons

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>

namespace {

const QColor kInk(0x33, 0x3b, 0x47);
const QColor kPaper(0xfb, 0xfb, 0xf8);
const QColor kBlue(0x2f, 0x6f, 0xc0);
const QColor kFolder(0xe8, 0xb3, 0x3c);
const QColor kRed(0xc8, 0x32, 0x2d);
const QColor kGreen(0x2f, 0x9a, 0x52);

// A sheet of paper with a folded corner, in a 32-unit square.
void sheet(QPainter& p, qreal x, qreal y, qreal w, qreal h) {
    QPainterPath path;
    path.moveTo(x, y);
    path.lineTo(x + w - 7, y);
    path.lineTo(x + w, y + 7);
    path.lineTo(x + w, y + h);
    path.lineTo(x, y + h);
    path.closeSubpath();
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kPaper);
    p.drawPath(path);
    p.drawLine(QPointF(x + w - 7, y), QPointF(x + w - 7, y + 7));
    p.drawLine(QPointF(x + w - 7, y + 7), QPointF(x + w, y + 7));
}

void textLines(QPainter& p, qreal x, qreal y, qreal w, int count, const QColor& color) {
    p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < count; ++i)
        p.drawLine(QPointF(x, y + i * 4), QPointF(x + (i % 3 == 2 ? w * 0.6 : w), y + i * 4));
}

void drawOpen(QPainter& p) {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kFolder.darker(115));
    p.drawRoundedRect(QRectF(3, 8, 24, 19), 1.5, 1.5);
    p.drawRect(QRectF(3, 6, 9, 3));
    sheet(p, 8, 4, 16, 18);
    p.setBrush(kFolder);
    QPolygonF front;
    front << QPointF(3, 27) << QPointF(7, 13) << QPointF(30, 13) << QPointF(27, 27);
    p.drawPolygon(front);
}

void drawOption(QPainter& p) {
    // Three sliders.
    const qreal ys[] = {8, 16, 24};
    const qreal knobs[] = {20, 10, 16};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, ys[i]), QPointF(28, ys[i]));
        p.setPen(QPen(kInk, 1.2));
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(knobs[i] - 3, ys[i] - 4, 6, 8), 1.5, 1.5);
    }
}

void drawExtract(QPainter& p) {
    sheet(p, 3, 2, 17, 22);
    textLines(p, 6, 11, 11, 3, kInk.lighter(160));
    p.setBrush(kPaper);
    sheet(p, 14, 11, 15, 19);
    textLines(p, 17, 20, 9, 3, kBlue);
    p.setPen(QPen(kGreen, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(7, 27), QPointF(13, 27));
    p.drawPolyline(QPolygonF{QPointF(10, 24), QPointF(13, 27), QPointF(10, 30)});
}

void drawStop(QPainter& p) {
    QPolygonF octagon;
    for (int i = 0; i < 8; ++i) {
        const double angle = (22.5 + 45 * i) * std::numbers::pi / 180;
        octagon << QPointF(16 + 13 * std::cos(angle), 16 + 13 * std::sin(angle));
    }
    p.setPen(QPen(kRed.darker(140), 1.2));
    p.setBrush(kRed);
    p.drawPolygon(octagon);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(9, 14, 14, 4));
}

void drawHelp(QPainter& p) {
    p.setPen(QPen(kBlue.darker(140), 1.2));
    p.setBrush(kBlue);
    p.drawEllipse(QPointF(16, 16), 13, 13);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath mark;
    mark.moveTo(11.5, 12.5);
    mark.cubicTo(11.5, 6.5, 20.5, 6.5, 20.5, 12);
    mark.cubicTo(20.5, 15.5, 16, 15.5, 16, 19);
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 23.5), 1.8, 1.8);
}

void drawMoreTools(QPainter& p) {
    // A console window with a prompt: the command-line program.
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(3, 5, 26, 22), 2, 2);
    p.setBrush(kPaper);
    p.drawRect(QRectF(5, 9, 22, 16));
    p.setPen(QPen(kGreen.darker(120), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF{QPointF(8, 13), QPointF(12, 16.5), QPointF(8, 20)});
    p.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(14, 21), QPointF(21, 21));
}

void drawProgram(QPainter& p) {
    sheet(p, 5, 2, 20, 26);
    textLines(p, 8, 11, 14, 4, kBlue);
    p.setPen(QPen(kRed, 1));
    p.setBrush(kRed);
    p.drawRoundedRect(QRectF(2, 4, 13, 7), 1.5, 1.5);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(6);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(2, 4, 13, 7), Qt::AlignCenter, QStringLiteral("PDF"));
    p.setPen(QPen(kGreen, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(17, 26), QPointF(29, 26));
    p.drawPolyline(QPolygonF{QPointF(25.5, 22.5), QPointF(29, 26), QPointF(25.5, 29.5)});
}

bool write(const QDir& folder, const char* name, int size,
           const std::function<void(QPainter&)>& draw) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    draw(painter);
    painter.end();
    const QString path = folder.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "can not write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons FOLDER\n");
        return 1;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    bool ok = write(folder, "open", 32, drawOpen) && write(folder, "option", 32, drawOption) &&
              write(folder, "extract", 32, drawExtract) && write(folder, "stop", 32, drawStop) &&
              write(folder, "help", 32, drawHelp) &&
              write(folder, "moretools", 32, drawMoreTools) &&
              write(folder, "tolvane-text-extractor", 128, drawProgram);
    return ok ? 0 : 2;
}
