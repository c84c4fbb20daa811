// xwd_to_png IN.xwd OUT.png: turns a TrueColor screen dump of `xwd -root`
// into a PNG. Used by the end-to-end test and by scripts/run's headless
// demonstration.

#include <QByteArray>
#include <QFile>
#include <QImage>

#include <cstdint>
#include <cstdio>

namespace {

std::uint32_t Card32(const QByteArray& data, int index)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData()) + index * 4;
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

// The 8-bit value of the bits of `mask` in pixel.
int Channel(std::uint32_t pixel, std::uint32_t mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    const std::uint32_t max = mask >> shift;
    return int(((pixel & mask) >> shift) * 255 / max);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: xwd_to_png IN.xwd OUT.png\n");
        return 64;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "xwd_to_png: cannot read %s\n", argv[1]);
        return 66;
    }
    const QByteArray data = in.readAll();
    if (data.size() < 100 || Card32(data, 1) != 7) {
        std::fprintf(stderr, "xwd_to_png: not an XWD file\n");
        return 65;
    }
    const std::uint32_t headerSize = Card32(data, 0);
    const int width = int(Card32(data, 4)), height = int(Card32(data, 5));
    const std::uint32_t byteOrder = Card32(data, 7), bitsPerPixel = Card32(data, 11);
    const std::uint32_t bytesPerLine = Card32(data, 12);
    const std::uint32_t red = Card32(data, 14), green = Card32(data, 15), blue = Card32(data, 16);
    const std::uint32_t colours = Card32(data, 19);
    const qint64 start = qint64(headerSize) + qint64(colours) * 12;
    if ((bitsPerPixel != 32 && bitsPerPixel != 24) || width <= 0 || height <= 0
        || start + qint64(bytesPerLine) * height > data.size()) {
        std::fprintf(stderr, "xwd_to_png: only whole TrueColor dumps of 24 or 32 bits are read\n");
        return 65;
    }
    QImage image(width, height, QImage::Format_RGB32);
    const int step = int(bitsPerPixel / 8);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const unsigned char*>(data.constData()) + start + qint64(bytesPerLine) * y;
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = row + x * step;
            std::uint32_t pixel = 0;
            for (int b = 0; b < step; ++b)
                pixel |= std::uint32_t(byteOrder == 0 ? p[b] : p[step - 1 - b]) << (8 * b);
            image.setPixel(x, y, qRgb(Channel(pixel, red), Channel(pixel, green), Channel(pixel, blue)));
        }
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "xwd_to_png: cannot write %s\n", argv[2]);
        return 73;
    }
    return 0;
}
