#include "ui/JpegImage.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

namespace {

// Larger than any skin by far; stops a hostile header from asking for gigabytes.
constexpr JDIMENSION MaxSide = 16384;

// libjpeg reports fatal errors through error_exit, which must not return. Throwing a C++
// exception through libjpeg's C frames is not guaranteed to unwind, so error_exit jumps back
// to the one frame that calls into libjpeg, and the exception is raised from there.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void onDecompressError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Corrupt-data warnings (truncated file, bad Huffman code) would otherwise let libjpeg fill the
// rest of the picture with grey and report success.
extern "C" void onDecompressMessage(j_common_ptr cinfo, int msgLevel) {
    if (msgLevel < 0)
        onDecompressError(cinfo);
}

struct DecompressDeleter {
    void operator()(jpeg_decompress_struct* cinfo) const {
        jpeg_destroy_decompress(cinfo);
        delete cinfo;
    }
};
using DecompressPtr = std::unique_ptr<jpeg_decompress_struct, DecompressDeleter>;

enum class Outcome { Ok, LibraryError, TooLarge, OutOfMemory };

// Every libjpeg call lives here, after the setjmp and with no local object that needs a
// destructor, so the long jump skips nothing but libjpeg's own frames.
Outcome decode(jpeg_decompress_struct* cinfo, ErrorManager* err, const QByteArray* data,
               QImage* out) {
    if (setjmp(err->jump))
        return Outcome::LibraryError;
    jpeg_mem_src(cinfo, reinterpret_cast<const unsigned char*>(data->constData()),
                 static_cast<unsigned long>(data->size()));
    jpeg_read_header(cinfo, TRUE);
    if (cinfo->image_width > MaxSide || cinfo->image_height > MaxSide)
        return Outcome::TooLarge;
    // Format_RGB32 pixels are 0xffRRGGBB words: bytes B, G, R, X on little-endian machines.
    cinfo->out_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    jpeg_start_decompress(cinfo);
    *out = QImage(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height),
                  QImage::Format_RGB32);
    if (out->isNull())
        return Outcome::OutOfMemory;
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = out->scanLine(static_cast<int>(cinfo->output_scanline));
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return Outcome::Ok;
}

// "Cannot decode JPEG image" or, when the name is known, "Cannot decode JPEG image "name"".
QString failure(const QString& name, const QString& reason) {
    if (name.isEmpty())
        return QStringLiteral("Cannot decode JPEG image: %1").arg(reason);
    return QStringLiteral("Cannot decode JPEG image \"%1\": %2").arg(name, reason);
}

QImage decodeNamed(const QByteArray& data, const QString& name) {
    if (data.isEmpty())
        throw EJpegError(failure(name, QStringLiteral("the data is empty")));

    auto err = std::make_unique<ErrorManager>();
    DecompressPtr cinfo(new jpeg_decompress_struct{});
    cinfo->err = jpeg_std_error(&err->pub);
    err->pub.error_exit = onDecompressError;
    err->pub.emit_message = onDecompressMessage;
    err->message[0] = '\0';
    jpeg_create_decompress(cinfo.get());

    QImage image;
    switch (decode(cinfo.get(), err.get(), &data, &image)) {
    case Outcome::Ok:
        return image;
    case Outcome::LibraryError:
        throw EJpegError(failure(name, QString::fromLocal8Bit(err->message)));
    case Outcome::TooLarge:
        throw EJpegError(failure(name, QStringLiteral("%1 x %2 pixels is too large")
                                           .arg(cinfo->image_width)
                                           .arg(cinfo->image_height)));
    case Outcome::OutOfMemory:
        break;
    }
    throw EJpegError(failure(name, QStringLiteral("out of memory")));
}

} // namespace

QImage DecodeJpeg(const QByteArray& data) {
    return decodeNamed(data, QString());
}

QImage LoadJpeg(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError(fileName, file.errorString());
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EFOpenError(fileName, file.errorString());
    return decodeNamed(data, fileName);
}
