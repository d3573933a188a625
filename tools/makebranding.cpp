// Renders resources/branding/tavrin.svg to the committed tavrin.png (1254 px) and tavrin.ico
// (seven PNG-encoded 32-bit images). Run through scripts/make-branding.sh.
#include <QBuffer>
#include <QDataStream>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

namespace {

QImage render(QSvgRenderer &renderer, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    return image;
}

QByteArray png(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: makebranding SOURCE.svg OUT.png OUT.ico\n");
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    if (!render(renderer, 1254).save(QString::fromLocal8Bit(argv[2]), "PNG"))
        return 1;

    const int sizes[] = {16, 24, 32, 48, 64, 128, 256};
    QList<QByteArray> images;
    for (int size : sizes)
        images.append(png(render(renderer, size)));

    QFile ico(QString::fromLocal8Bit(argv[3]));
    if (!ico.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    QDataStream out(&ico);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(images.size());
    quint32 offset = 6 + 16 * images.size();
    for (int i = 0; i < images.size(); ++i) {
        const quint8 edge = sizes[i] >= 256 ? 0 : quint8(sizes[i]); // 0 means 256
        out << edge << edge << quint8(0) << quint8(0) << quint16(1) << quint16(32) << quint32(images[i].size())
            << offset;
        offset += images[i].size();
    }
    for (const QByteArray &image : images)
        out.writeRawData(image.constData(), image.size());
    return ico.error() == QFileDevice::NoError ? 0 : 1;
}
