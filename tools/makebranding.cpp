// Renders resources/branding/tavrin.svg to the committed tavrin.png (1254 px), tavrin.ico (seven
// PNG-encoded 32-bit images) and, when a folder and an icon name are given, the freedesktop hicolor
// icons <folder>/<N>x<N>/apps/<name>.png. Run through scripts/make-branding.sh.
#include <QBuffer>
#include <QDataStream>
#include <QDir>
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
    if (argc != 4 && argc != 6) {
        std::fprintf(stderr, "usage: makebranding SOURCE.svg OUT.png OUT.ico [HICOLOR_DIR ICON_NAME]\n");
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

    if (argc == 6) {
        // The sizes desktops ask the hicolor theme for, from menus (16) to launchers (256).
        const QString folder = QString::fromLocal8Bit(argv[4]);
        const QString name = QString::fromLocal8Bit(argv[5]);
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString apps = QStringLiteral("%1/%2x%2/apps").arg(folder, QString::number(size));
            const QString file = apps + QLatin1Char('/') + name + QLatin1String(".png");
            if (!QDir().mkpath(apps) || !render(renderer, size).save(file, "PNG"))
                return 1;
        }
    }

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
        out.writeRawData(image.constData(), int(image.size())); // a few KiB each
    return ico.error() == QFileDevice::NoError ? 0 : 1;
}
