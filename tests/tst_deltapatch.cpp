// The patch decoder against frames the zstd program made (tests/data/delta/make) and frames
// spoiled or made by hand, in whole and in pieces.
#include "install/deltapatch.h"

#include <QFile>
#include <QtTest>

using Error = DeltaPatch::Error;
Q_DECLARE_METATYPE(DeltaPatch::Error)

namespace {

QByteArray data(const char *name)
{
    QFile file(QStringLiteral(DELTA_DATA "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The two texts tests/data/delta/make patches, as it writes them.
QByteArray text(bool changed)
{
    QByteArray text;
    for (int i = 1; i <= 400; ++i) {
        text += "line " + QByteArray::number(i);
        text += changed && i >= 100 && i < 200 && i % 10 == 0 ? " changed\n" : "\n";
        if (changed && i == 250)
            text += "inserted\n";
    }
    return text;
}

// A zstd frame header (magic, descriptor without content size, window descriptor) and no block.
QByteArray headerWithWindow(char windowDescriptor)
{
    return QByteArray::fromHex("28b52ffd00") + windowDescriptor;
}

} // namespace

class DeltaPatchTest : public QObject
{
    Q_OBJECT

private slots:
    void apply_data();
    void apply();
};

void DeltaPatchTest::apply_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<qint64>("declared");
    QTest::addColumn<int>("piece");
    QTest::addColumn<bool>("sinkRefuses");
    QTest::addColumn<Error>("error");
    // Bytes the sink receives, the start of new.txt; -1: not compared.
    QTest::addColumn<qint64>("received");

    const QByteArray base = text(false), patch = data("patch.zst");
    const QByteArray bare = data("patch-nosize.zst");
    const qint64 size = text(true).size();
    QVERIFY(!base.isEmpty() && !patch.isEmpty() && !bare.isEmpty() && size > 0);
    const int whole = 1 << 20;

    QTest::newRow("patch whole") << patch << base << size << whole << false << Error::NoError
                                 << size;
    QTest::newRow("patch byte by byte")
            << patch << base << size << 1 << false << Error::NoError << size;
    QTest::newRow("no content size")
            << bare << base << size << 7 << false << Error::NoError << size;
    QTest::newRow("plain frame, empty base") << data("plain.zst") << QByteArray() << size << whole
                                             << false << Error::NoError << size;
    // The header's content size is checked before a byte is decoded ...
    QTest::newRow("header longer")
            << patch << base << size - 1 << whole << false << Error::TooLong << qint64(0);
    QTest::newRow("header shorter")
            << patch << base << size + 1 << whole << false << Error::TooShort << qint64(0);
    // ... and without one, decoding stops at the first byte past the declared size.
    QTest::newRow("decodes longer")
            << bare << base << size - 10 << 1 << false << Error::TooLong << size - 10;
    QTest::newRow("decodes longer, whole")
            << bare << base << qint64(0) << whole << false << Error::TooLong << qint64(0);
    QTest::newRow("decodes shorter")
            << bare << base << size + 10 << whole << false << Error::TooShort << size;
    // The frame's checksum catches the other base.
    QTest::newRow("wrong base") << patch << QByteArray(base).replace("line 2", "line 3") << size
                                << whole << false << Error::Damaged << qint64(-1);
    QTest::newRow("no base") << patch << QByteArray() << size << whole << false << Error::Damaged
                             << qint64(-1);
    QTest::newRow("cut short") << patch.left(patch.size() - 4) << base << size << 5 << false
                               << Error::Damaged << qint64(-1);
    QTest::newRow("cut in the header")
            << patch.left(5) << base << size << 1 << false << Error::Damaged << qint64(0);
    QTest::newRow("two frames") << patch + patch << base << size << whole << false
                                << Error::NotAFrame << size;
    QTest::newRow("two frames, in pieces")
            << patch + patch << base << size << 3 << false << Error::NotAFrame << size;
    QTest::newRow("skippable frame") << QByteArray::fromHex("502a4d180400000061626364") << base
                                     << size << whole << false << Error::NotAFrame << qint64(0);
    QTest::newRow("garbage") << QByteArray("PK\3\4 not zstd") << base << size << 1 << false
                             << Error::NotAFrame << qint64(0);
    QTest::newRow("nothing") << QByteArray() << base << size << whole << false << Error::NotAFrame
                             << qint64(0);
    QTest::newRow("sink refuses") << patch << base << size << whole << true << Error::WriteFailed
                                  << qint64(-1);
    // Windows: 2^23 passes the header (the frame then ends early), 2^28 only for files of 2^27,
    // 2^24 and 2^30 never for small files, 2^31 + 2^28 never at all.
    QTest::newRow("window 2^23") << headerWithWindow('\x68') << base << size << whole << false
                                 << Error::Damaged << qint64(0);
    QTest::newRow("window 2^24, small files") << headerWithWindow('\x70') << base << size << whole
                                              << false << Error::WindowTooLarge << qint64(0);
    QTest::newRow("window 2^28, large file")
            << headerWithWindow('\x90') << base << (qint64(1) << 27) << whole << false
            << Error::Damaged << qint64(0);
    QTest::newRow("window 2^30") << headerWithWindow('\xa0') << base << size << 1 << false
                                 << Error::WindowTooLarge << qint64(0);
    QTest::newRow("window 2^31 + 2^28") << headerWithWindow('\xa9') << base << (qint64(3) << 30)
                                        << whole << false << Error::WindowTooLarge << qint64(0);
}

void DeltaPatchTest::apply()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, base);
    QFETCH(qint64, declared);
    QFETCH(int, piece);
    QFETCH(bool, sinkRefuses);
    QFETCH(Error, error);
    QFETCH(qint64, received);

    DeltaPatch patch(base.constData(), base.size(), declared);
    QByteArray out;
    const DeltaPatch::Sink sink = [&](const char *bytes, qint64 size) {
        out.append(bytes, int(size));
        return !sinkRefuses;
    };
    bool ok = true;
    for (int at = 0; ok && at < frame.size(); at += piece)
        ok = patch.feed(frame.constData() + at, qMin(piece, frame.size() - at), sink);
    ok = ok && patch.finish();

    QCOMPARE(patch.error(), error);
    QCOMPARE(ok, error == Error::NoError);
    QCOMPARE(patch.errorString().isEmpty(), ok);
    QVERIFY(out.size() <= declared);
    if (received >= 0)
        QCOMPARE(out, text(true).left(int(received)));
    // A refused patch takes nothing more.
    if (!ok)
        QVERIFY(!patch.feed("x", 1, sink) && patch.error() == error);
}

QTEST_GUILESS_MAIN(DeltaPatchTest)
#include "tst_deltapatch.moc"
