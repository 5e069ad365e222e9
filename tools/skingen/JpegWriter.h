#pragma once

#include <QByteArray>
#include <QImage>
#include <stdexcept>

// Encodes an image as a baseline JPEG with libjpeg (the skins are written by us and read back
// by our own loader). Throws std::runtime_error when libjpeg refuses.
QByteArray EncodeJpeg(const QImage& image, int quality = 92, bool grayscale = false);
