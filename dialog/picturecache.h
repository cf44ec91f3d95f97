#ifndef PICTURECACHE_H
#define PICTURECACHE_H

#include <QImage>
#include <QImageReader>
#include <QSize>
#include <QString>

#include <future>

// The picture above the dialog's form, decoded on a worker thread while the program starts, then
// put where its label's style sheet, "border-image: url(:/140xfd.png);", looks for it: into
// QPixmapCache under the key QPixmap::load files it under, already scaled to the size the label
// draws it at where that is a whole number of pixels. The style then finds it instead of decoding
// the 16-bit 1280 x 960 file in the GUI thread, and its scale at every paint of the label is one
// of a pixmap to its own size.
class PictureCache
{
public:
    // Starts the decode at once. Needs no application object, and is best made before it.
    PictureCache();
    // Waits for the worker, which cannot be interrupted, if install() has not.
    ~PictureCache();

    PictureCache(const PictureCache &) = delete;
    PictureCache &operator=(const PictureCache &) = delete;

    // Once, as soon as the screen is known: the device pixel ratio the label is drawn at. Once
    // decoded, the picture is scaled for it on the worker thread, to the label's size times ratio
    // when ratio is whole.
    void setPixelRatio(qreal ratio);
    // In the GUI thread, before the label is polished (before the dialog is shown): waits for the
    // worker and files what it made. False, and nothing filed, when the picture could not be
    // decoded; the style then tries and fails itself.
    bool install();

    // The picture as the label's style sheet names it.
    static const QString fileName;
    // The key under which QPixmap::load(fileName) files what it loads in QPixmapCache.
    static QString cacheKey(const QString &fileName);

private:
    // The size the label has in the form.
    static const QSize labelSize;
    // What the label's border-image draws on a device of that ratio: the picture scaled smoothly
    // to size times ratio, as premultiplied ARGB.
    static QImage scaled(const QImage &picture, const QSize &size, qreal ratio);
    QImage prepare();

    QImageReader reader;
    std::promise<qreal> ratio;
    std::future<qreal> ratioKnown = ratio.get_future();
    bool ratioSet = false;
    std::future<QImage> prepared;
};

#endif // PICTURECACHE_H
