#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

// A Windows .ico holding each image as an embedded PNG (sizes up to 256 px).
QByteArray EncodeIco(const QList<QImage>& images);
