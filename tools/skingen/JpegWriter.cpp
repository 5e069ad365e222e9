#include "JpegWriter.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <jpeglib.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void onCompressError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

struct CompressDeleter {
    void operator()(jpeg_compress_struct* cinfo) const {
        jpeg_destroy_compress(cinfo);
        delete cinfo;
    }
};

// libjpeg calls only, after the setjmp, with no local that needs a destructor.
bool encode(jpeg_compress_struct* cinfo, ErrorManager* err, const QImage* rgb, int quality,
            bool grayscale, unsigned char** buffer, unsigned long* size) {
    if (setjmp(err->jump))
        return false;
    jpeg_mem_dest(cinfo, buffer, size);
    cinfo->image_width = static_cast<JDIMENSION>(rgb->width());
    cinfo->image_height = static_cast<JDIMENSION>(rgb->height());
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    if (grayscale)
        jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
    jpeg_set_quality(cinfo, quality, TRUE);
    // Full-resolution chroma keeps the thin coloured bevel lines sharp.
    cinfo->comp_info[0].h_samp_factor = 1;
    cinfo->comp_info[0].v_samp_factor = 1;
    cinfo->optimize_coding = TRUE;
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        auto* row =
            const_cast<JSAMPROW>(rgb->constScanLine(static_cast<int>(cinfo->next_scanline)));
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

} // namespace

QByteArray EncodeJpeg(const QImage& image, int quality, bool grayscale) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    auto err = std::make_unique<ErrorManager>();
    std::unique_ptr<jpeg_compress_struct, CompressDeleter> cinfo(new jpeg_compress_struct{});
    cinfo->err = jpeg_std_error(&err->pub);
    err->pub.error_exit = onCompressError;
    jpeg_create_compress(cinfo.get());

    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const bool ok = encode(cinfo.get(), err.get(), &rgb, quality, grayscale, &buffer, &size);
    QByteArray out;
    if (ok)
        out = QByteArray(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
    cinfo.reset();
    std::free(buffer);
    if (!ok)
        throw std::runtime_error(std::string("JPEG encoding failed: ") + err->message);
    return out;
}
