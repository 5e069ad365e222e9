#include "Art.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

namespace {

// ---- colours -------------------------------------------------------------------------------

const QColor BarLight(246, 247, 250);
const QColor BarMid(218, 222, 229);
const QColor BarDark(184, 190, 201);
const QColor BarEdge(96, 104, 120);
const QColor PanelTop(48, 108, 226);
const QColor PanelMid(27, 72, 178);
const QColor PanelBottom(13, 40, 118);
const QColor Navy(0, 0, 128);

// ---- painting helpers ----------------------------------------------------------------------

// A painter on `image` whose user space is the client area of size `client`.
struct Canvas {
    QImage image;
    QPainter p;
    QSizeF client;
    Canvas(QSize imageSize, QSizeF clientSize, QImage::Format format = QImage::Format_RGB32)
        : image(imageSize, format), client(clientSize) {
        image.fill(format == QImage::Format_RGB32 ? QColor(Qt::black) : QColor(Qt::transparent));
        p.begin(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.scale(imageSize.width() / clientSize.width(), imageSize.height() / clientSize.height());
    }
    QImage finish() {
        p.end();
        return image;
    }
};

// Three box-blur passes approximate a gaussian; premultiplied so edges fade cleanly.
QImage blurred(const QImage& source, int radius) {
    QImage img = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (radius < 1)
        return img;
    const int w = img.width(), h = img.height();
    std::vector<int> acc(4);
    std::vector<QRgb> line(static_cast<size_t>(std::max(w, h)));
    auto pass = [&](bool horizontal) {
        const int n = horizontal ? w : h;
        const int lines = horizontal ? h : w;
        for (int l = 0; l < lines; ++l) {
            auto px = [&](int i) -> QRgb& {
                return horizontal ? reinterpret_cast<QRgb*>(img.scanLine(l))[i]
                                  : reinterpret_cast<QRgb*>(img.scanLine(i))[l];
            };
            for (int i = 0; i < n; ++i)
                line[static_cast<size_t>(i)] = px(i);
            int a = 0, r = 0, g = 0, b = 0;
            const int span = 2 * radius + 1;
            // the window of output i is [i - radius, i + radius], edges repeated; start one
            // step before 0 so each step adds i + radius and drops i - radius - 1
            for (int i = -radius - 1; i < radius; ++i) {
                const QRgb c = line[static_cast<size_t>(std::clamp(i, 0, n - 1))];
                a += qAlpha(c);
                r += qRed(c);
                g += qGreen(c);
                b += qBlue(c);
            }
            for (int i = 0; i < n; ++i) {
                const QRgb in = line[static_cast<size_t>(std::min(i + radius, n - 1))];
                const QRgb out = line[static_cast<size_t>(std::max(i - radius - 1, 0))];
                a += qAlpha(in) - qAlpha(out);
                r += qRed(in) - qRed(out);
                g += qGreen(in) - qGreen(out);
                b += qBlue(in) - qBlue(out);
                px(i) = qRgba(r / span, g / span, b / span, a / span);
            }
        }
    };
    for (int k = 0; k < 3; ++k) {
        pass(true);
        pass(false);
    }
    return img;
}

// Paints `shape` (client coordinates) blurred by `radius` client pixels: shadows and glows.
void softShape(Canvas& c, const QPainterPath& shape, const QColor& colour, qreal radius,
               QPointF offset = {}) {
    QImage layer(c.image.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        lp.setRenderHint(QPainter::Antialiasing);
        lp.setTransform(c.p.transform());
        lp.translate(offset);
        lp.fillPath(shape, colour);
    }
    const qreal scale = c.p.transform().m11();
    const QImage soft = blurred(layer, std::max(1, qRound(radius * scale / 2.0)));
    c.p.save();
    c.p.resetTransform();
    c.p.drawImage(0, 0, soft);
    c.p.restore();
}

// Fine horizontal streaks of brushed metal, one per image row, inside `rect` (client coords).
void brushed(Canvas& c, const QRectF& rect, quint32 salt, int strength = 10) {
    QRandomGenerator rng(0x0d71c300u ^ salt);
    const QRect device = c.p.transform().mapRect(rect).toAlignedRect().intersected(c.image.rect());
    c.p.save();
    c.p.resetTransform();
    c.p.setRenderHint(QPainter::Antialiasing, false);
    for (int y = device.top(); y <= device.bottom(); ++y) {
        const int v = static_cast<int>(rng.bounded(2 * strength + 1)) - strength;
        const QColor tone = v >= 0 ? QColor(255, 255, 255, v) : QColor(0, 0, 0, -v);
        c.p.setPen(tone);
        c.p.drawLine(device.left(), y, device.right(), y);
    }
    c.p.restore();
}

// A grey metal bar; `edgeBelow` puts its dark edge on its lower side (a top bar).
void metalBar(Canvas& c, const QRectF& r, bool edgeBelow, quint32 salt) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    if (edgeBelow) {
        g.setColorAt(0.0, BarLight);
        g.setColorAt(0.55, BarMid);
        g.setColorAt(1.0, BarDark);
    } else {
        g.setColorAt(0.0, BarMid.lighter(104));
        g.setColorAt(0.12, BarLight);
        g.setColorAt(1.0, BarDark);
    }
    c.p.fillRect(r, g);
    brushed(c, r, salt);
    // a soft sheen across the upper half
    QLinearGradient sheen(r.topLeft(), QPointF(r.left(), r.center().y()));
    sheen.setColorAt(0.0, QColor(255, 255, 255, 110));
    sheen.setColorAt(1.0, QColor(255, 255, 255, 0));
    c.p.fillRect(QRectF(r.left(), r.top(), r.width(), r.height() / 2), sheen);
    c.p.setPen(QPen(QColor(255, 255, 255, 200), 1.0));
    if (edgeBelow) {
        c.p.drawLine(QPointF(r.left(), r.top() + 0.5), QPointF(r.right(), r.top() + 0.5));
        c.p.setPen(QPen(BarEdge, 1.0));
        c.p.drawLine(QPointF(r.left(), r.bottom() - 0.5), QPointF(r.right(), r.bottom() - 0.5));
    } else {
        c.p.drawLine(QPointF(r.left(), r.top() + 1.5), QPointF(r.right(), r.top() + 1.5));
        c.p.setPen(QPen(BarEdge, 1.0));
        c.p.drawLine(QPointF(r.left(), r.top() + 0.5), QPointF(r.right(), r.top() + 0.5));
        c.p.setPen(QPen(QColor(120, 128, 142), 1.0));
        c.p.drawLine(QPointF(r.left(), r.bottom() - 0.5), QPointF(r.right(), r.bottom() - 0.5));
    }
}

// The blue panel between the bars, lit from the upper left.
void bluePanel(Canvas& c, const QRectF& r) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0.0, PanelTop);
    g.setColorAt(0.45, PanelMid);
    g.setColorAt(1.0, PanelBottom);
    c.p.fillRect(r, g);
    QRadialGradient light(QPointF(r.left() + r.width() * 0.22, r.top()), r.width() * 0.65);
    light.setColorAt(0.0, QColor(140, 190, 255, 70));
    light.setColorAt(1.0, QColor(140, 190, 255, 0));
    c.p.fillRect(r, light);
    // shade cast by the bar above
    QLinearGradient shade(r.topLeft(), r.topLeft() + QPointF(0, 6));
    shade.setColorAt(0.0, QColor(0, 0, 30, 110));
    shade.setColorAt(1.0, QColor(0, 0, 30, 0));
    c.p.fillRect(QRectF(r.left(), r.top(), r.width(), 6), shade);
    brushed(c, r, 77, 4);
}

// A recess pressed into a surface: darker inside, shadow on its upper rim, light on the lower.
void recess(Canvas& c, const QRectF& r, qreal radius, const QColor& top, const QColor& bottom) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0.0, top);
    g.setColorAt(1.0, bottom);
    c.p.fillPath(path, g);
    c.p.save();
    c.p.setClipPath(path);
    QPainterPath inner;
    inner.addRect(r.adjusted(-20, -20, 20, 20));
    QPainterPath hole;
    hole.addRoundedRect(r.translated(0, 1.6), radius, radius);
    softShape(c, inner.subtracted(hole), QColor(0, 0, 0, 150), 2.5);
    c.p.restore();
    c.p.setBrush(Qt::NoBrush);
    c.p.setPen(QPen(QColor(0, 0, 0, 90), 0.8));
    c.p.drawPath(path);
    c.p.setPen(QPen(QColor(255, 255, 255, 120), 0.8));
    c.p.drawLine(QPointF(r.left() + radius, r.bottom() + 0.7),
                 QPointF(r.right() - radius, r.bottom() + 0.7));
}

// A slightly raised pad behind a bar label, so the navy text reads as a button.
void pad(Canvas& c, const QRectF& r) {
    QPainterPath path;
    path.addRoundedRect(r, 4, 4);
    softShape(c, path, QColor(40, 50, 70, 90), 1.6, QPointF(0, 0.8));
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0.0, QColor(252, 253, 255));
    g.setColorAt(0.5, QColor(229, 233, 240));
    g.setColorAt(1.0, QColor(204, 210, 220));
    c.p.fillPath(path, g);
    c.p.setBrush(Qt::NoBrush);
    c.p.setPen(QPen(QColor(150, 158, 172), 0.7));
    c.p.drawPath(path);
    c.p.setPen(QPen(QColor(255, 255, 255, 230), 0.7));
    c.p.drawLine(QPointF(r.left() + 4, r.top() + 0.9), QPointF(r.right() - 4, r.top() + 0.9));
}

// Text cut into the metal: dark letters with a white rim below.
void engraved(Canvas& c, const QRectF& r, const QString& text, const QFont& font,
              Qt::Alignment align = Qt::AlignCenter) {
    c.p.setFont(font);
    c.p.setPen(QColor(255, 255, 255, 210));
    c.p.drawText(r.translated(0, 0.8), align, text);
    c.p.setPen(QColor(70, 80, 100, 200));
    c.p.drawText(r, align, text);
}

QFont face(const char* family, qreal pixels, int weight = QFont::Bold, bool italic = false) {
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(qRound(pixels));
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setItalic(italic);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

// ---- transport buttons ---------------------------------------------------------------------

enum class Symbol { Pause, Play, Stop };

void transportButton(Canvas& c, QPointF centre, qreal radius, Symbol symbol) {
    QPainterPath outer;
    outer.addEllipse(centre, radius, radius);
    softShape(c, outer, QColor(0, 0, 20, 170), radius * 0.16, QPointF(0, radius * 0.07));
    if (symbol == Symbol::Play) {
        QPainterPath glow;
        glow.addEllipse(centre, radius + 3, radius + 3);
        softShape(c, glow, QColor(90, 200, 255, 120), 6);
    }

    // brushed-steel bezel
    QConicalGradient steel(centre, 90);
    steel.setColorAt(0.00, QColor(255, 255, 255));
    steel.setColorAt(0.12, QColor(170, 178, 192));
    steel.setColorAt(0.25, QColor(236, 239, 244));
    steel.setColorAt(0.40, QColor(128, 137, 153));
    steel.setColorAt(0.50, QColor(205, 211, 221));
    steel.setColorAt(0.62, QColor(120, 129, 146));
    steel.setColorAt(0.75, QColor(240, 242, 246));
    steel.setColorAt(0.88, QColor(160, 168, 182));
    steel.setColorAt(1.00, QColor(255, 255, 255));
    c.p.setPen(QPen(QColor(20, 30, 60), 0.9));
    c.p.setBrush(steel);
    c.p.drawEllipse(centre, radius, radius);

    // the blue face, domed
    const qreal face = radius * 0.80;
    QRadialGradient dome(centre + QPointF(0, -face * 0.35), face * 1.35,
                         centre + QPointF(0, -face * 0.55));
    dome.setColorAt(0.0, QColor(120, 175, 255));
    dome.setColorAt(0.45, QColor(36, 98, 222));
    dome.setColorAt(1.0, QColor(8, 34, 112));
    c.p.setPen(QPen(QColor(5, 20, 70), 0.9));
    c.p.setBrush(dome);
    c.p.drawEllipse(centre, face, face);

    // the symbol, white with a soft dark shadow and a faint glow
    const qreal s = face * (symbol == Symbol::Play ? 0.52 : 0.62);
    QPainterPath glyph;
    switch (symbol) {
    case Symbol::Pause: {
        const qreal barW = s * 0.36, barH = s * 1.15, gap = s * 0.26;
        glyph.addRoundedRect(QRectF(centre.x() - gap / 2 - barW, centre.y() - barH / 2, barW, barH),
                             barW * 0.3, barW * 0.3);
        glyph.addRoundedRect(QRectF(centre.x() + gap / 2, centre.y() - barH / 2, barW, barH),
                             barW * 0.3, barW * 0.3);
        break;
    }
    case Symbol::Play: {
        // optically centred: the triangle's centroid, not its box, on the centre
        const qreal h = s * 1.25, w = h * 0.92;
        const QPointF a(centre.x() - w / 3, centre.y() - h / 2);
        const QPointF b(centre.x() + 2 * w / 3, centre.y());
        const QPointF d(centre.x() - w / 3, centre.y() + h / 2);
        QPainterPath tri;
        tri.moveTo(a);
        tri.lineTo(b);
        tri.lineTo(d);
        tri.closeSubpath();
        QPainterPathStroker round;
        round.setWidth(s * 0.16);
        round.setJoinStyle(Qt::RoundJoin);
        glyph = tri.united(round.createStroke(tri)).simplified();
        break;
    }
    case Symbol::Stop: {
        const qreal side = s * 1.0;
        glyph.addRoundedRect(QRectF(centre.x() - side / 2, centre.y() - side / 2, side, side),
                             side * 0.14, side * 0.14);
        break;
    }
    }
    softShape(c, glyph, QColor(0, 10, 50, 200), s * 0.10, QPointF(0, s * 0.06));
    softShape(c, glyph, QColor(170, 225, 255, 150), s * 0.18);
    QLinearGradient white(centre - QPointF(0, s), centre + QPointF(0, s));
    white.setColorAt(0.0, QColor(255, 255, 255));
    white.setColorAt(1.0, QColor(214, 230, 255));
    c.p.fillPath(glyph, white);

    // glass highlight over the upper face
    QPainterPath gloss;
    gloss.addEllipse(
        QRectF(centre.x() - face * 0.72, centre.y() - face * 0.92, face * 1.44, face * 0.95));
    QLinearGradient shine(QPointF(0, centre.y() - face), QPointF(0, centre.y()));
    shine.setColorAt(0.0, QColor(255, 255, 255, 150));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    c.p.fillPath(gloss, shine);
}

// ---- the main panel ------------------------------------------------------------------------

constexpr QSizeF MainClient(534, 227);
constexpr qreal MainTopBar = 26;     // labels "+", "?", "─", "X" at y 0..23
constexpr qreal MainBottomBar = 184; // labels at y 188..210, progress bar at y 216..227

void mainBackground(Canvas& c) {
    bluePanel(c, QRectF(0, MainTopBar, MainClient.width(), MainBottomBar - MainTopBar));
    metalBar(c, QRectF(0, 0, MainClient.width(), MainTopBar), true, 1);
    metalBar(c, QRectF(0, MainBottomBar, MainClient.width(), MainClient.height() - MainBottomBar),
             false, 2);
}

void mainDetails(Canvas& c) {
    // top bar: pads behind the four symbols, the product name engraved in the middle
    pad(c, QRectF(4, 2, 18, 21));
    pad(c, QRectF(24, 2, 15, 21));
    pad(c, QRectF(491, 2, 17, 21));
    pad(c, QRectF(510, 2, 16, 21));
    engraved(c, QRectF(150, 1, 234, MainTopBar - 2), QStringLiteral("O N D R I X   3"),
             face("Liberation Sans", 12, QFont::Bold));

    // left: the word mark
    c.p.setFont(face("Liberation Sans", 34, QFont::Black, true));
    const QRectF mark(14, 34, 120, 42);
    c.p.setPen(QColor(0, 10, 50, 120));
    c.p.drawText(mark.translated(1.2, 1.6), Qt::AlignLeft | Qt::AlignVCenter,
                 QStringLiteral("ondrix"));
    QLinearGradient markFill(mark.topLeft(), mark.bottomLeft());
    markFill.setColorAt(0.0, QColor(255, 255, 255));
    markFill.setColorAt(1.0, QColor(185, 215, 255));
    QPainterPath markPath;
    markPath.addText(QPointF(0, 0), c.p.font(), QStringLiteral("ondrix"));
    const QRectF mb = markPath.boundingRect();
    markPath.translate(mark.left() - mb.left(), mark.center().y() - mb.center().y());
    c.p.fillPath(markPath, markFill);
    // the "3" badge
    const QRectF badge(markPath.boundingRect().right() + 3, 38, 17, 17);
    QPainterPath badgePath;
    badgePath.addEllipse(badge);
    softShape(c, badgePath, QColor(0, 0, 40, 140), 1.5, QPointF(0, 1));
    QRadialGradient badgeFill(badge.center() - QPointF(0, 4), 12);
    badgeFill.setColorAt(0.0, QColor(140, 230, 255));
    badgeFill.setColorAt(1.0, QColor(20, 150, 230));
    c.p.setPen(QPen(QColor(255, 255, 255, 220), 1.0));
    c.p.setBrush(badgeFill);
    c.p.drawEllipse(badge);
    c.p.setFont(face("Liberation Sans", 13, QFont::Black));
    c.p.setPen(Qt::white);
    c.p.drawText(badge.translated(0, 0.3), Qt::AlignCenter, QStringLiteral("3"));
    c.p.setFont(face("Liberation Sans", 10, QFont::DemiBold));
    c.p.setPen(QColor(190, 215, 255, 210));
    c.p.drawText(QRectF(16, 76, 120, 14), Qt::AlignLeft | Qt::AlignVCenter,
                 QStringLiteral("MUSIC PLAYER"));

    // the cradle the transport buttons sit in
    QPainterPath cradle;
    cradle.addRoundedRect(QRectF(134, 84, 266, 78), 39, 39);
    QPainterPath playRing;
    playRing.addEllipse(QPointF(268.5, 120), 50, 50);
    cradle = cradle.united(playRing).simplified();
    softShape(c, cradle, QColor(120, 170, 255, 60), 2.0, QPointF(0, 1.2));
    QLinearGradient cradleFill(QPointF(0, 70), QPointF(0, 170));
    cradleFill.setColorAt(0.0, QColor(6, 22, 70));
    cradleFill.setColorAt(1.0, QColor(18, 50, 130));
    c.p.fillPath(cradle, cradleFill);
    c.p.save();
    c.p.setClipPath(cradle);
    QPainterPath outside;
    outside.addRect(QRectF(100, 40, 340, 160));
    QPainterPath lowered = cradle;
    lowered.translate(0, 3);
    softShape(c, outside.subtracted(lowered), QColor(0, 0, 10, 200), 4);
    c.p.restore();
    c.p.setPen(QPen(QColor(0, 8, 40, 200), 0.8));
    c.p.setBrush(Qt::NoBrush);
    c.p.drawPath(cradle);

    // pause, play and stop, centred on their click areas
    transportButton(c, QPointF(140 + 35, 94 + 29.5), 27.5, Symbol::Pause);
    transportButton(c, QPointF(216 + 52.5, 76 + 44), 42.5, Symbol::Play);
    transportButton(c, QPointF(325 + 34, 94 + 28), 27, Symbol::Stop);

    // right: a quiet level meter above the volume controls
    QRandomGenerator rng(2010);
    const int bars = 14;
    for (int i = 0; i < bars; ++i) {
        const qreal x = 424 + i * 7.5;
        const qreal t = i / qreal(bars - 1);
        const qreal level =
            0.35 + 0.55 * std::pow(std::sin(3.1 * t + 0.6), 2) + 0.1 * rng.generateDouble();
        const qreal h = 70 * level;
        const QRectF bar(x, 140 - h, 5, h);
        QLinearGradient lg(QPointF(0, 70), QPointF(0, 140));
        lg.setColorAt(0.0, QColor(160, 230, 255, 150));
        lg.setColorAt(1.0, QColor(60, 140, 255, 60));
        QPainterPath bp;
        bp.addRoundedRect(bar, 1.5, 1.5);
        c.p.fillPath(bp, lg);
        // reflection on the floor line
        QLinearGradient rg(QPointF(0, 141), QPointF(0, 149));
        rg.setColorAt(0.0, QColor(120, 200, 255, 45));
        rg.setColorAt(1.0, QColor(120, 200, 255, 0));
        c.p.fillRect(QRectF(x, 141, 5, std::min<qreal>(8, h * 0.3)), rg);
    }
    c.p.setPen(QPen(QColor(150, 200, 255, 70), 0.6));
    c.p.drawLine(QPointF(420, 140.5), QPointF(526, 140.5));

    // the information display in the bottom bar (white 11 px text at 140, 188, 253 x 13)
    recess(c, QRectF(134, 186.5, 265, 17), 4, QColor(8, 22, 64), QColor(20, 48, 120));
    // pads behind "OPEN FILE" and "PLAYLIST"
    pad(c, QRectF(2, 187, 107, 23));
    pad(c, QRectF(428, 187, 100, 23));
    // groove under the progress bar
    recess(c, QRectF(2, 215.5, 530, 10.5), 3, QColor(60, 66, 80), QColor(110, 118, 132));
}

QImage render(QSize size, QSizeF client, const std::function<void(Canvas&)>& draw,
              QImage::Format format = QImage::Format_RGB32) {
    Canvas c(size, client, format);
    draw(c);
    return c.finish();
}

// ---- the speaker symbols -------------------------------------------------------------------

void speakerSymbol(Canvas& c, bool crossedOut) {
    // drawn in the 24 x 27 control, over the very panel that lies there
    QPainterPath body;
    body.moveTo(3, 10.5);
    body.lineTo(7, 10.5);
    body.lineTo(12.5, 5.5);
    body.lineTo(12.5, 21.5);
    body.lineTo(7, 16.5);
    body.lineTo(3, 16.5);
    body.closeSubpath();
    softShape(c, body, QColor(0, 0, 30, 170), 0.9, QPointF(0.4, 0.8));
    QLinearGradient g(QPointF(0, 5), QPointF(0, 22));
    g.setColorAt(0.0, QColor(255, 255, 255));
    g.setColorAt(1.0, QColor(190, 212, 245));
    c.p.setPen(QPen(QColor(220, 235, 255), 0.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    c.p.setBrush(g);
    c.p.drawPath(body);

    if (!crossedOut) {
        c.p.setBrush(Qt::NoBrush);
        for (int i = 0; i < 2; ++i) {
            const qreal r = 4.0 + 3.6 * i;
            const QRectF arc(12.5 - r + 1.5, 13.5 - r, 2 * r, 2 * r);
            c.p.setPen(QPen(QColor(0, 0, 30, 110), 1.5, Qt::SolidLine, Qt::RoundCap));
            c.p.drawArc(arc.translated(0.4, 0.8), -50 * 16, 100 * 16);
            c.p.setPen(QPen(QColor(235, 245, 255), 1.5, Qt::SolidLine, Qt::RoundCap));
            c.p.drawArc(arc, -50 * 16, 100 * 16);
        }
        return;
    }
    // a red cross beside the cone
    QPainterPath cross;
    cross.moveTo(15.5, 10);
    cross.lineTo(21.5, 17);
    cross.moveTo(21.5, 10);
    cross.lineTo(15.5, 17);
    QPainterPathStroker st;
    st.setWidth(2.2);
    st.setCapStyle(Qt::RoundCap);
    const QPainterPath stroke = st.createStroke(cross);
    softShape(c, stroke, QColor(0, 0, 30, 160), 0.8, QPointF(0.3, 0.7));
    QLinearGradient red(QPointF(0, 10), QPointF(0, 17));
    red.setColorAt(0.0, QColor(255, 120, 110));
    red.setColorAt(1.0, QColor(220, 30, 30));
    c.p.setPen(QPen(QColor(255, 235, 235), 0.4));
    c.p.setBrush(red);
    c.p.drawPath(stroke.simplified());
}

// ---- the playlist editor -------------------------------------------------------------------

constexpr QSizeF EditorClient(540, 519);
constexpr qreal EditorTopBar = 26;
constexpr qreal EditorBottomBar = 478; // list box ends at 473, labels at 489..511

void editorArt(Canvas& c) {
    bluePanel(c, QRectF(0, EditorTopBar, EditorClient.width(), EditorBottomBar - EditorTopBar));
    metalBar(c, QRectF(0, 0, EditorClient.width(), EditorTopBar), true, 3);
    metalBar(
        c,
        QRectF(0, EditorBottomBar, EditorClient.width(), EditorClient.height() - EditorBottomBar),
        false, 4);
    pad(c, QRectF(510, 2, 16, 20));
    engraved(c, QRectF(120, 1, 300, EditorTopBar - 2), QStringLiteral("P L A Y L I S T"),
             face("Liberation Sans", 12, QFont::Bold));

    // the well the list box sits in (list at 8, 29, 521 x 444)
    recess(c, QRectF(5.5, 27.5, 527, 448), 4, QColor(4, 14, 50), QColor(10, 30, 90));
    c.p.fillRect(QRectF(8, 29, 521, 444), QColor(0, 0, 128));

    // notches cut into the top edge of the bottom bar, between the four labels, each with a
    // groove running down from it
    for (const auto& [x, half] :
         {std::pair{87.0, 9.0}, std::pair{211.0, 9.0}, std::pair{390.0, 16.0}}) {
        QPainterPath notch;
        notch.moveTo(x - half, EditorBottomBar - 1);
        notch.cubicTo(x - half * 0.5625, EditorBottomBar - 1, x - half * 0.625,
                      EditorBottomBar + 10, x, EditorBottomBar + 10);
        notch.cubicTo(x + half * 0.625, EditorBottomBar + 10, x + half * 0.5625,
                      EditorBottomBar - 1, x + half, EditorBottomBar - 1);
        notch.closeSubpath();
        QLinearGradient ng(QPointF(0, EditorBottomBar), QPointF(0, EditorBottomBar + 9));
        ng.setColorAt(0.0, PanelBottom.darker(130));
        ng.setColorAt(1.0, PanelBottom);
        c.p.setPen(Qt::NoPen);
        c.p.fillPath(notch, ng);
        c.p.setPen(QPen(QColor(255, 255, 255, 170), 0.8));
        c.p.setBrush(Qt::NoBrush);
        c.p.drawPath(notch.translated(0, 0.6));
        c.p.setPen(QPen(BarEdge, 0.8));
        c.p.drawPath(notch);
        c.p.setPen(QPen(QColor(110, 118, 134), 1.0));
        c.p.drawLine(QPointF(x - 0.5, EditorBottomBar + 12),
                     QPointF(x - 0.5, EditorClient.height() - 7));
        c.p.setPen(QPen(QColor(255, 255, 255, 200), 1.0));
        c.p.drawLine(QPointF(x + 0.5, EditorBottomBar + 12),
                     QPointF(x + 0.5, EditorClient.height() - 7));
    }
    // pads behind "Open", "Add folder", "Add tracks" and "Save"
    pad(c, QRectF(18, 487, 62, 25));
    pad(c, QRectF(94, 487, 110, 25));
    pad(c, QRectF(218, 487, 112, 25));
    pad(c, QRectF(450, 487, 58, 25));
}

// ---- the about window ----------------------------------------------------------------------

constexpr QSizeF AboutClient(266, 426);
constexpr qreal AboutTopBar = 22;     // "X" at 246, -3, 12 x 23
constexpr qreal AboutBottomBar = 390; // buttons at y 397..422
constexpr QRectF LogoPlace(182, 26, 79, 74);

void aboutBackground(Canvas& c) {
    bluePanel(c, QRectF(0, AboutTopBar, AboutClient.width(), AboutBottomBar - AboutTopBar));
    metalBar(c, QRectF(0, 0, AboutClient.width(), AboutTopBar), true, 5);
    metalBar(c,
             QRectF(0, AboutBottomBar, AboutClient.width(), AboutClient.height() - AboutBottomBar),
             false, 6);
}

void aboutDetails(Canvas& c) {
    pad(c, QRectF(243, 1, 18, 19));
    engraved(c, QRectF(12, 0, 200, AboutTopBar - 1), QStringLiteral("ABOUT"),
             face("Liberation Sans", 11, QFont::Bold), Qt::AlignLeft | Qt::AlignVCenter);
    // a soft light behind the logo
    QPainterPath halo;
    halo.addEllipse(LogoPlace.center(), 46, 44);
    softShape(c, halo, QColor(120, 180, 255, 70), 12);
    // a quiet waveform in the band between the version and the credits
    QPainterPath wave;
    for (int i = 0; i <= 240; ++i) {
        const qreal x = 12 + i;
        const qreal t = i / 240.0;
        const qreal envelope = std::sin(3.14159 * t);
        const qreal y = 136 + 16 * envelope * std::sin(t * 38) * std::cos(t * 7.3);
        if (i == 0)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    QPainterPathStroker ws;
    ws.setWidth(1.4);
    ws.setCapStyle(Qt::RoundCap);
    const QPainterPath waveLine = ws.createStroke(wave);
    softShape(c, waveLine, QColor(120, 200, 255, 150), 3);
    c.p.fillPath(waveLine, QColor(190, 230, 255, 150));
    c.p.setPen(QPen(QColor(150, 200, 255, 50), 0.6));
    c.p.drawLine(QPointF(12, 136.5), QPointF(252, 136.5));

    // engraved rule between the credits and the version information
    c.p.setPen(QPen(QColor(0, 10, 50, 150), 1.0));
    c.p.drawLine(QPointF(8, 261.5), QPointF(258, 261.5));
    c.p.setPen(QPen(QColor(140, 180, 255, 90), 1.0));
    c.p.drawLine(QPointF(8, 262.5), QPointF(258, 262.5));
    // the frame around the version text (memo at 10, 296, 248 x 89, pure blue)
    recess(c, QRectF(7.5, 293.5, 253, 94), 4, QColor(0, 0, 90), QColor(0, 0, 170));
    c.p.fillRect(QRectF(10, 296, 248, 89), QColor(0, 0, 255));
}

// ---- the logo ------------------------------------------------------------------------------

// The grey rounded square with the blue play triangle, filling `r`.
void logoMark(QPainter& p, const QRectF& r, bool detailed,
              const std::function<void(const QPainterPath&)>& shadow) {
    const qreal side = std::min(r.width(), r.height());
    const qreal radius = side * 0.2;
    QPainterPath square;
    square.addRoundedRect(r, radius, radius);
    if (shadow)
        shadow(square);
    QLinearGradient metal(r.topLeft(), r.bottomLeft());
    metal.setColorAt(0.0, QColor(250, 251, 253));
    metal.setColorAt(0.5, QColor(212, 217, 225));
    metal.setColorAt(1.0, QColor(160, 168, 182));
    // small icons keep a whole-pixel outline so they stand out on light panels
    p.setPen(QPen(QColor(90, 98, 114), detailed ? std::max(1.0, side * 0.012) : 1.0));
    p.setBrush(metal);
    p.drawPath(square);
    if (detailed) {
        // bevel: light inner rim
        p.setPen(QPen(QColor(255, 255, 255, 200), side * 0.02));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(side * 0.03, side * 0.03, -side * 0.03, -side * 0.03),
                          radius * 0.85, radius * 0.85);
    }

    // the play triangle, centroid on the centre, rounded corners
    const QPointF centre = r.center();
    const qreal h = side * (detailed ? 0.56 : 0.62), w = h * 0.9;
    QPainterPath tri;
    tri.moveTo(centre.x() - w / 3, centre.y() - h / 2);
    tri.lineTo(centre.x() + 2 * w / 3, centre.y());
    tri.lineTo(centre.x() - w / 3, centre.y() + h / 2);
    tri.closeSubpath();
    QPainterPathStroker round;
    round.setWidth(side * 0.07);
    round.setJoinStyle(Qt::RoundJoin);
    const QPainterPath play = tri.united(round.createStroke(tri)).simplified();
    QLinearGradient blue(QPointF(0, centre.y() - h / 2), QPointF(0, centre.y() + h / 2));
    blue.setColorAt(0.0, QColor(80, 150, 255));
    blue.setColorAt(0.5, QColor(24, 90, 225));
    blue.setColorAt(1.0, QColor(10, 46, 150));
    p.setPen(detailed ? QPen(QColor(5, 25, 90), side * 0.012) : Qt::NoPen);
    p.setBrush(blue);
    p.drawPath(play);
    if (detailed) {
        // gloss on the upper half of the triangle
        p.save();
        p.setClipPath(play);
        QLinearGradient shine(QPointF(0, centre.y() - h / 2), QPointF(0, centre.y()));
        shine.setColorAt(0.0, QColor(255, 255, 255, 140));
        shine.setColorAt(1.0, QColor(255, 255, 255, 10));
        p.fillRect(QRectF(r.left(), centre.y() - h / 2 - 2, r.width(), h / 2 + 2), shine);
        p.restore();
        // glass sheen over the square's top
        QPainterPath top;
        top.addRoundedRect(QRectF(r.left() + side * 0.06, r.top() + side * 0.05,
                                  r.width() - side * 0.12, r.height() * 0.42),
                           radius * 0.8, radius * 0.8);
        QLinearGradient sheen(r.topLeft(), QPointF(r.left(), r.top() + r.height() * 0.45));
        sheen.setColorAt(0.0, QColor(255, 255, 255, 150));
        sheen.setColorAt(1.0, QColor(255, 255, 255, 0));
        p.fillPath(top, sheen);
    }
}

} // namespace

namespace Art {

QImage MainPanel() {
    return render(QSize(1000, 400), MainClient, [](Canvas& c) {
        mainBackground(c);
        mainDetails(c);
    });
}

QImage Speaker(bool crossedOut) {
    return render(QSize(175, 150), QSizeF(24, 27), [crossedOut](Canvas& c) {
        // the panel as it lies under the control at 440, 155 of the main window
        c.p.save();
        c.p.translate(-440, -155);
        mainBackground(c);
        c.p.restore();
        speakerSymbol(c, crossedOut);
    });
}

QImage EditorPanel() {
    return render(QSize(1000, 1000), EditorClient, editorArt);
}

QImage AboutPanel() {
    return render(QSize(1000, 1000), AboutClient, [](Canvas& c) {
        aboutBackground(c);
        aboutDetails(c);
    });
}

QImage Logo() {
    return render(QSize(146, 146), LogoPlace.size(), [](Canvas& c) {
        c.p.save();
        c.p.translate(-LogoPlace.topLeft());
        aboutBackground(c);
        aboutDetails(c);
        c.p.restore();
        const QRectF square(4, 3, LogoPlace.width() - 8, LogoPlace.height() - 8);
        logoMark(c.p, square, true, [&c](const QPainterPath& shape) {
            softShape(c, shape, QColor(0, 0, 30, 170), 3, QPointF(0, 2));
        });
    });
}

QImage Icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const bool detailed = size >= 32;
    const qreal margin = size >= 48 ? size * 0.06 : size * 0.03;
    // small sizes: the outline on the half pixel, so it is one crisp pixel wide
    const QRectF r =
        detailed ? QRectF(margin, margin, size - 2 * margin, size - 2 * margin - size * 0.03)
                 : QRectF(0.5, 0.5, size - 1, size - 1);
    logoMark(p, r, detailed, [&](const QPainterPath& shape) {
        if (!detailed)
            return;
        QImage layer(image.size(), QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        QPainter lp(&layer);
        lp.setRenderHint(QPainter::Antialiasing);
        lp.translate(0, size * 0.025);
        lp.fillPath(shape, QColor(0, 0, 0, 110));
        lp.end();
        p.drawImage(0, 0, blurred(layer, std::max(1, size / 64)));
    });
    p.end();
    return image;
}

} // namespace Art
