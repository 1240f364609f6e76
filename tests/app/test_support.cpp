#include "test_support.h"

#include <QFile>
#include <QtEndian>
#include <algorithm>

#include "image/image_io.h"

namespace pelinor::test {

PictureRef texturedPicture(int width, int height, unsigned seed)
{
    PictureRef picture = Picture::create(width, height);
    unsigned state = seed * 2654435761u + 12345u;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture->bits() + std::size_t(y) * picture->stride();
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                state = state * 1664525u + 1013904223u;
                const int noise = int(state >> 26);  // 0..63
                const int base = (x * 160) / width + (y * 60) / height + c * 10;
                row[3 * x + c] = std::uint8_t(std::min(255, base + noise));
            }
        }
    }
    return picture;
}

void writeTexturedBmp(const QString& path, int width, int height, unsigned seed)
{
    savePicture(*texturedPicture(width, height, seed), path.toStdString());
}

void write8BitBmp(const QString& path, int width, int height)
{
    const int stride = (width + 3) / 4 * 4;
    const int paletteBytes = 256 * 4;
    const int offset = 14 + 40 + paletteBytes;
    QByteArray bytes(offset + stride * height, '\0');
    auto put16 = [&](int at, quint16 v) { qToLittleEndian(v, bytes.data() + at); };
    auto put32 = [&](int at, quint32 v) { qToLittleEndian(v, bytes.data() + at); };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, quint32(bytes.size()));
    put32(10, quint32(offset));
    put32(14, 40);
    put32(18, quint32(width));
    put32(22, quint32(height));
    put16(26, 1);
    put16(28, 8);
    put32(46, 256);
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) bytes[54 + 4 * i + c] = char(i);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) bytes[offset + y * stride + x] = char((x * 7 + y * 13) & 0xFF);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) file.write(bytes);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QByteArray();
    return file.readAll();
}

QStringList readLines(const QString& path)
{
    QStringList lines = QString::fromLatin1(readAll(path)).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();
    return lines;
}

}  // namespace pelinor::test
