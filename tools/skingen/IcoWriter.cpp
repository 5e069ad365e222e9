#include "IcoWriter.h"

#include <QBuffer>
#include <QtEndian>

namespace {

void put16(QByteArray& out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void put32(QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

} // namespace

QByteArray EncodeIco(const QList<QImage>& images) {
    QList<QByteArray> pngs;
    for (const QImage& image : images) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        pngs << png;
    }
    QByteArray out;
    put16(out, 0); // reserved
    put16(out, 1); // icon
    put16(out, static_cast<quint16>(images.size()));
    quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        const QImage& image = images[i];
        // 0 stands for 256 in the one-byte size fields
        out.append(static_cast<char>(image.width() >= 256 ? 0 : image.width()));
        out.append(static_cast<char>(image.height() >= 256 ? 0 : image.height()));
        out.append('\0'); // no palette
        out.append('\0'); // reserved
        put16(out, 1);    // colour planes
        put16(out, 32);   // bits per pixel
        put32(out, static_cast<quint32>(pngs[i].size()));
        put32(out, offset);
        offset += static_cast<quint32>(pngs[i].size());
    }
    for (const QByteArray& png : pngs)
        out += png;
    return out;
}
