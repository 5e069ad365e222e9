#include "ui/JpegImage.h"

#include "JpegWriter.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A picture with distinct colour blocks, so a wrong channel order or row stride shows.
QImage testPicture(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool right = x >= w / 2;
            const bool bottom = y >= h / 2;
            QRgb c = right ? (bottom ? qRgb(255, 255, 255) : qRgb(0, 0, 255))
                           : (bottom ? qRgb(0, 200, 0) : qRgb(220, 0, 0));
            img.setPixel(x, y, c);
        }
    return img;
}

void expectNear(QRgb actual, QRgb expected, int tolerance = 12) {
    EXPECT_NEAR(qRed(actual), qRed(expected), tolerance);
    EXPECT_NEAR(qGreen(actual), qGreen(expected), tolerance);
    EXPECT_NEAR(qBlue(actual), qBlue(expected), tolerance);
}

std::string decodeError(const QByteArray& data) {
    try {
        DecodeJpeg(data);
    } catch (const EJpegError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

// A valid JPEG comes back with its size and colours, in RGB order, not BGR.
TEST(JpegImage, DecodesColoursAndSize) {
    const QImage img = DecodeJpeg(EncodeJpeg(testPicture(67, 41), 95));
    ASSERT_EQ(img.size(), QSize(67, 41));
    EXPECT_EQ(img.format(), QImage::Format_RGB32);
    expectNear(img.pixel(5, 5), qRgb(220, 0, 0));
    expectNear(img.pixel(60, 5), qRgb(0, 0, 255));
    expectNear(img.pixel(5, 36), qRgb(0, 200, 0));
    expectNear(img.pixel(60, 36), qRgb(255, 255, 255));
}

// A grayscale JPEG (one component) is expanded to grey RGB.
TEST(JpegImage, DecodesGrayscale) {
    QImage grey(16, 16, QImage::Format_RGB32);
    grey.fill(qRgb(128, 128, 128));
    const QImage img = DecodeJpeg(EncodeJpeg(grey, 90, true));
    ASSERT_EQ(img.size(), QSize(16, 16));
    expectNear(img.pixel(8, 8), qRgb(128, 128, 128), 3);
}

// Truncated data is an error, not a picture filled up with grey.
TEST(JpegImage, TruncatedDataThrows) {
    const QByteArray full = EncodeJpeg(testPicture(200, 120), 92);
    for (qsizetype cut :
         {full.size() - 2, full.size() / 2, qsizetype(300), qsizetype(20), qsizetype(2)}) {
        SCOPED_TRACE(cut);
        const std::string message = decodeError(full.left(cut));
        EXPECT_EQ(message.rfind("Cannot decode JPEG image: ", 0), 0u) << message;
    }
}

// Random bytes, an empty buffer and a PNG are refused with our exception.
TEST(JpegImage, GarbageThrows) {
    QByteArray noise(4096, '\0');
    QRandomGenerator rng(1234);
    for (auto& b : noise)
        b = static_cast<char>(rng.bounded(256));
    EXPECT_NE(decodeError(noise), "no error");
    EXPECT_EQ(decodeError(QByteArray()), "Cannot decode JPEG image: the data is empty");
    const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    EXPECT_NE(decodeError(png), "no error");
    // A JPEG start marker followed by garbage.
    EXPECT_NE(decodeError(QByteArray("\xFF\xD8\xFF") + noise), "no error");
}

// Flipping bytes inside the entropy-coded data never crashes and never hangs.
TEST(JpegImage, CorruptedBodyIsSafe) {
    const QByteArray good = EncodeJpeg(testPicture(64, 64), 80);
    QRandomGenerator rng(99);
    for (int i = 0; i < 200; ++i) {
        QByteArray bad = good;
        for (int k = 0; k < 8; ++k)
            bad[rng.bounded(static_cast<int>(bad.size()))] = static_cast<char>(rng.bounded(256));
        try {
            const QImage img = DecodeJpeg(bad);
            EXPECT_FALSE(img.isNull());
        } catch (const EJpegError&) {
        }
    }
}

// A header claiming a huge picture is refused before any memory is taken for it.
TEST(JpegImage, HugeDimensionsThrow) {
    QByteArray data = EncodeJpeg(testPicture(8, 8), 80);
    const qsizetype sof = data.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    // SOF0: marker, length (2), precision (1), height (2), width (2)
    // 40000 x 40000: within libjpeg's own limit, far beyond any skin
    data[sof + 5] = '\x9C';
    data[sof + 6] = '\x40';
    data[sof + 7] = '\x9C';
    data[sof + 8] = '\x40';
    EXPECT_NE(decodeError(data).find("too large"), std::string::npos) << decodeError(data);
}

// Files: a missing one is the file-open error, a damaged one names the file.
TEST(JpegImage, LoadFromFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("missing.jpg"));
    try {
        LoadJpeg(missing);
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind("Cannot open file \"" + missing.toStdString() + "\". ", 0),
            0u)
            << e.what();
    }

    const QString good = dir.filePath(QStringLiteral("good.jpg"));
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(EncodeJpeg(testPicture(30, 20)));
    f.close();
    EXPECT_EQ(LoadJpeg(good).size(), QSize(30, 20));

    const QString bad = dir.filePath(QStringLiteral("bad.jpg"));
    QFile b(bad);
    ASSERT_TRUE(b.open(QIODevice::WriteOnly));
    b.write("not a jpeg at all");
    b.close();
    try {
        LoadJpeg(bad);
        FAIL() << "no exception";
    } catch (const EJpegError& e) {
        EXPECT_NE(std::string(e.what()).find(bad.toStdString()), std::string::npos) << e.what();
    }
}
