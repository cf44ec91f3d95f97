// Minisign keys and signatures made by the real minisign program at build time
// (tests/make-fixtures), checked by the verifier.
#include "testsupport.h"
#include "common/blake2b512.h"
#include "verify/minisignkey.h"
#include "verify/minisignsignature.h"
#include "verify/releasetrust.h"
#include "verify/signatureverifier.h"

#include <QtTest>

#include <functional>

using testsupport::fixture;
using testsupport::readFile;

namespace {

// What package.zip holds.
const QByteArray Payload = QByteArray("Morvane 1.2.0 package\n").repeated(5000);

// The .minisig that minisign wrote for the fixture file signed/key/file.
QByteArray signature(const QString &key, const QString &file)
{
    return readFile(fixture("signed/" + key + '/' + file + ".minisig"));
}

// The base64 line of a .minisig with its decoded bytes changed by `change`.
QByteArray alterLine(const QByteArray &minisig, int line,
                     const std::function<void(QByteArray &)> &change)
{
    QList<QByteArray> lines = minisig.split('\n');
    QByteArray bytes = QByteArray::fromBase64(lines[line]);
    change(bytes);
    lines[line] = bytes.toBase64();
    return lines.join('\n');
}

} // namespace

class tst_Verify : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keyStrings_data();
    void keyStrings();
    void signatures_data();
    void signatures();
    void namesFile_data();
    void namesFile();
    void packageSignatureBoundToAddress();

private:
    QString keyA;
};

void tst_Verify::initTestCase()
{
    keyA = testsupport::fixtureKey("a");
    QVERIFY(!keyA.isEmpty());
    QCOMPARE(readFile(fixture("signed/a/package.zip")), Payload);
}

void tst_Verify::keyStrings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("refusal"); // empty: the key parses

    QTest::newRow("key from minisign -G") << keyA << "";
    QTest::newRow("one character short") << keyA.chopped(1) << "56";
    QTest::newRow("one character more") << keyA + "A"
                                        << "56";
    QTest::newRow("trailing newline") << keyA + "\n"
                                      << "56";
    QTest::newRow("whole .pub file")
            << QString::fromLatin1(readFile(fixture("keys/a.pub"))) << "56";
    QTest::newRow("not in the alphabet") << QString(keyA).replace(10, 1, "-") << "base64";
    QTest::newRow("non-Latin-1 character")
            << QString(keyA).replace(10, 1, QChar(0x263a)) << "base64";
    QByteArray signatureAlgorithm = QByteArray::fromBase64(keyA.toLatin1());
    signatureAlgorithm[1] = 'D';
    QTest::newRow("algorithm ED of signatures")
            << QString::fromLatin1(signatureAlgorithm.toBase64()) << "Ed25519";
    QTest::newRow("empty") << QString() << "56";
}

void tst_Verify::keyStrings()
{
    QFETCH(QString, text);
    QFETCH(QString, refusal);
    QString why;
    const MinisignKey key = MinisignKey::fromString(text, &why);
    QCOMPARE(key.isNull(), !refusal.isEmpty());
    QVERIFY2(why.contains(refusal), qPrintable(why));
    if (key.isNull())
        return;
    // minisign names the key id in the comment of the .pub file the same way.
    const QByteArray comment = readFile(fixture("keys/a.pub")).split('\n').value(0);
    QVERIFY2(comment.endsWith(" " + key.printableKeyId().toLatin1()), comment.constData());
    QCOMPARE(key.keyBytes().size(), 32);
    // One key in sixteen has a leading zero, which minisign does not print: the id is a number
    // stored little-endian.
    QCOMPARE(MinisignKey::printableKeyId(QByteArray::fromHex("efcdab8967452301")),
             QStringLiteral("123456789ABCDEF"));
}

void tst_Verify::signatures_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("minisig");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("refusal"); // empty: the signature holds

    const QByteArray good = signature("a", "package.zip");
    const QByteArray byB = signature("b", "package.zip");
    QVERIFY(!good.isEmpty() && !byB.isEmpty());
    QByteArray changed = Payload;
    changed[Payload.size() / 2] = changed[Payload.size() / 2] ^ 1;
    const QByteArray keyIdA = MinisignKey::fromString(keyA).keyId();

    QTest::newRow("good") << Payload << good << keyA << "";
    QTest::newRow("one byte of the file changed") << changed << good << keyA << "match the file";
    QTest::newRow("file cut by one byte") << Payload.chopped(1) << good << keyA << "match the file";
    QTest::newRow("key id mismatch") << Payload << byB << keyA << "expected key";
    QTest::newRow("another key under this key's id")
            << Payload << alterLine(byB, 1, [&](QByteArray &b) { b.replace(2, 8, keyIdA); }) << keyA
            << "match the file";
    QTest::newRow("legacy Ed") << Payload << signature("a", "legacy.zip") << keyA << "legacy";
    QTest::newRow("trusted comment changed")
            << Payload << QByteArray(good).replace("file:package.zip", "file:package.ZIP") << keyA
            << "global signature";
    QTest::newRow("global signature changed")
            << Payload << alterLine(good, 3, [](QByteArray &b) { b[0] = b[0] ^ 1; }) << keyA
            << "global signature";
    QTest::newRow("empty file signed") << QByteArray() << signature("a", "empty") << keyA << "";
    QTest::newRow("empty file against another")
            << QByteArray("x") << signature("a", "empty") << keyA << "match the file";

    // What the parser accepts and refuses.
    QTest::newRow("CRLF line ends")
            << Payload << QByteArray(good).replace("\n", "\r\n") << keyA << "";
    QTest::newRow("no final line end") << Payload << good.chopped(1) << keyA << "";
    QTest::newRow("truncated") << Payload << good.left(good.size() - 20) << keyA << "64 bytes";
    QTest::newRow("three lines") << Payload << good.left(good.lastIndexOf('\n', -2)) << keyA
                                 << "3 lines";
    QTest::newRow("empty .minisig") << Payload << QByteArray() << keyA << "empty";
    QTest::newRow("non-base64") << Payload << QByteArray(good).replace('+', '.').replace('/', '.')
                                << keyA << "base64";
    QTest::newRow("extra line") << Payload << good + "untrusted comment: more\n"
                                << keyA << "5 lines";
    QTest::newRow("blank line at the end") << Payload << good + "\n" << keyA << "5 lines";
    QTest::newRow("space before base64")
            << Payload << QByteArray(good).replace("\nRU", "\n RU") << keyA << "base64";
    QTest::newRow("no trusted comment prefix")
            << Payload << QByteArray(good).replace("trusted comment: ", "trusted: ") << keyA
            << "trusted comment";
    QTest::newRow("over the size limit")
            << Payload
            << QByteArray(good).replace("untrusted comment: ",
                                        "untrusted comment: " + QByteArray(64 * 1024, 'x'))
            << keyA << "larger";
}

void tst_Verify::signatures()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, minisig);
    QFETCH(QString, key);
    QFETCH(QString, refusal);

    QString why;
    const MinisignSignature signature = MinisignSignature::parse(minisig, &why);
    bool valid = !signature.isNull();
    if (valid) {
        const SignatureVerifier verifier(MinisignKey::fromString(key), signature);
        valid = verifier.verifyData(data, &why);
        // Streamed in uneven pieces, the digest gives the same answer.
        Blake2b512 hash;
        for (int at = 0; at < data.size(); at += 4093)
            hash.addData(data.constData() + at, qMin(4093, data.size() - at));
        QCOMPARE(verifier.verifyDigest(hash.result()), valid);
    }
    QVERIFY2(valid == refusal.isEmpty(), qPrintable(why));
    QVERIFY2(why.contains(refusal), qPrintable(why));
}

void tst_Verify::namesFile_data()
{
    QTest::addColumn<QString>("signedFile"); // under signed/a; custom-comment/ with "-t" given
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("names");

    const QString release = "names/Morvane-1.2.0.zip";
    QTest::newRow("same name") << release << "Morvane-1.2.0.zip" << true;
    QTest::newRow("name with spaces") << "names/Morvane 1.2.0.zip"
                                      << "Morvane 1.2.0.zip" << true;
    QTest::newRow("prefix of the name") << release << "Morvane-1.2.0" << false;
    QTest::newRow("suffix of the name") << release << "1.2.0.zip" << false;
    QTest::newRow("older release") << "names/Morvane-1.1.0.zip"
                                   << "Morvane-1.2.0.zip" << false;
    QTest::newRow("other case") << release << "morvane-1.2.0.zip" << false;
    QTest::newRow("name reaching into the next token")
            << release << "Morvane-1.2.0.zip\thashed" << false;
    QTest::newRow("empty name") << release << "" << false;
    // "release Morvane-1.2.0.zip"
    QTest::newRow("custom comment without the token") << "custom-comment/Morvane-1.2.0.zip"
                                                      << "Morvane-1.2.0.zip" << false;
    // "release<tab>notfile:Morvane-1.2.0.zip"
    QTest::newRow("token inside a longer one") << "custom-comment/x"
                                               << "Morvane-1.2.0.zip" << false;
    QTest::newRow("non-ASCII name") << QString::fromUtf8("names/Morvane-Übersicht.zip")
                                    << QString::fromUtf8("Morvane-Übersicht.zip") << true;
}

void tst_Verify::namesFile()
{
    QFETCH(QString, signedFile);
    QFETCH(QString, name);
    QFETCH(bool, names);
    const MinisignSignature parsed = MinisignSignature::parse(signature("a", signedFile));
    QVERIFY(!parsed.isNull());
    QCOMPARE(parsed.namesFile(name), names);
}

// A package's signature vouches for the bytes of the one address it was fetched for, and only
// until the next fetch: the same file name elsewhere (a delta's address again) is another file.
void tst_Verify::packageSignatureBoundToAddress()
{
    Blake2b512 hash;
    hash.addData(Payload);
    const QByteArray digest = hash.result();
    const QUrl address("https://updates.example/1.2.0/package.zip");
    ReleaseTrust trust(keyA);
    QString why;
    QVERIFY(trust.acceptPackageSignature(signature("a", "package.zip"), address, &why));
    QVERIFY2(trust.verifyPackage(digest, address, &why), qPrintable(why));
    QVERIFY(!trust.verifyPackage(digest, QUrl("https://updates.example/1.1.0/package.zip"), &why));
    QVERIFY(!trust.acceptPackageSignature("not a signature", address, &why));
    QVERIFY(!trust.verifyPackage(digest, address, &why));
    QCOMPARE(why, QStringLiteral("no signature was taken for ") + address.toString());
}

QTEST_GUILESS_MAIN(tst_Verify)
#include "tst_verify.moc"
