#include "dialog/picturecache.h"

#include <QDateTime>
#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>

#include <cmath>
#include <system_error>

const QString PictureCache::fileName = QStringLiteral(":/140xfd.png");
const QSize PictureCache::labelSize(200, 150);

namespace {

// As QPixmap::load writes a number into its cache key: each byte in memory order, its low
// hexadecimal digit first.
template<typename T> void appendHex(QString &key, T value)
{
    const char digits[] = "0123456789abcdef";
    const auto *bytes = reinterpret_cast<const unsigned char *>(&value);
    for (size_t i = 0; i < sizeof value; ++i) {
        key += QLatin1Char(digits[bytes[i] & 0xf]);
        key += QLatin1Char(digits[bytes[i] >> 4]);
    }
}

} // namespace

PictureCache::PictureCache()
    : reader(fileName)
{
    // The handler for the format is chosen here, in the thread that goes on to make the
    // application object: choosing it reads the plugin paths, which that object resets. The
    // worker only decodes.
    if (!reader.canRead())
        return;
    try {
        prepared = std::async(std::launch::async, [this] { return prepare(); });
    } catch (const std::system_error &) {
        // Without a thread the style decodes the picture itself, in the GUI thread.
    }
}

PictureCache::~PictureCache()
{
    // A worker still waiting for the ratio would never end.
    if (!ratioSet)
        ratio.set_value(0);
}

void PictureCache::setPixelRatio(qreal pixelRatio)
{
    if (ratioSet)
        return;
    ratioSet = true;
    ratio.set_value(pixelRatio);
}

QImage PictureCache::prepare()
{
    // In the format QPixmap keeps it in, so that what is drawn is what the file gives.
    QImage picture = reader.read();
    picture.convertTo(QImage::Format_ARGB32_Premultiplied);
    const qreal drawnAt = ratioKnown.get();
    if (picture.isNull() || drawnAt <= 0)
        return QImage();
    // At a whole ratio the label covers whole pixels, and the style's scale of a pixmap of that
    // size changes nothing. At any other it lies across pixels and the style scales what it has
    // once more, which would blur a picture scaled before: it gets the picture itself.
    return drawnAt == std::round(drawnAt) ? scaled(picture, labelSize, drawnAt) : picture;
}

bool PictureCache::install()
{
    if (!prepared.valid())
        return false;
    QImage picture = prepared.get();
    return !picture.isNull()
            && QPixmapCache::insert(cacheKey(fileName), QPixmap::fromImage(std::move(picture)));
}

QString PictureCache::cacheKey(const QString &fileName)
{
    const QFileInfo info(fileName);
    QString key = QLatin1String("qt_pixmap") + info.absoluteFilePath();
    appendHex(key, uint(info.lastModified().toSecsSinceEpoch()));
    appendHex(key, quint64(info.size()));
    // The kind of a pixmap made from a file: a pixmap, not a bitmap.
    appendHex(key, uint(0));
    return key;
}

QImage PictureCache::scaled(const QImage &picture, const QSize &size, qreal ratio)
{
    // Drawn as the border-image draws it into the window, so that the pixels are the same.
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(), image.size()), picture);
    return image;
}
