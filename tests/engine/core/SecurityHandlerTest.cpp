#include "engine/core/SecurityHandler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/core/DecryptStream.h"
#include "engine/core/DocumentCatalog.h"
#include "engine/core/Outline.h"
#include "engine/core/Page.h"
#include "engine/core/PdfDocument.h"
#include "engine/core/XrefTable.h"
#include "tests/engine/core/DocumentTestHelpers.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/PdfBuilder.h"

namespace rendova {
namespace {

using test::Encryption;
using test::ErrorCapture;
using test::PdfBuilder;
using test::Xref;

const unsigned char* bytesOf(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

std::string decrypt(const std::string& data, const std::string& key, int algorithm, int num, int gen) {
    RefPtr<DataStream> stream = RefPtr<DataStream>::adopt(
        new DecryptStream(test::memoryStream(data), bytesOf(key), algorithm, int(key.size()), num, gen));
    bool agreed = false;
    std::string out = test::readAllPeeking(stream.get(), &agreed);
    EXPECT_TRUE(agreed);
    EXPECT_EQ(test::readAll(stream.get()), out) << "reset must start over";
    return out;
}

// The AES object key and the data of object num encrypted for it, with the
// format's padding (1 to 16 bytes of the pad count).
std::string aesObject(const std::string& fileKey, const std::string& plain, int num, int gen = 0) {
    unsigned char objectKey[16];
    DecryptStream::makeObjectKey(bytesOf(fileKey), int(fileKey.size()), kCryptAes128, num, gen, objectKey);
    const size_t pad = 16 - plain.size() % 16;
    return test::aesCbcCiphertext(std::string(reinterpret_cast<char*>(objectKey), 16),
                                  plain + std::string(pad, char(pad)));
}

// ---- DecryptStream --------------------------------------------------------

TEST(DecryptStream, Rc4UsesTheObjectKeyOfNumberAndGeneration) {
    Encryption e;
    e.make();
    const std::string plain = "BT /F1 12 Tf (Hello) Tj ET";
    EXPECT_EQ(decrypt(e.rc4Object(plain, 12, 0), e.key, kCryptRc4, 12, 0), plain);
    EXPECT_NE(decrypt(e.rc4Object(plain, 12, 0), e.key, kCryptRc4, 13, 0), plain);
    EXPECT_NE(decrypt(e.rc4Object(plain, 12, 0), e.key, kCryptRc4, 12, 1), plain);
}

TEST(DecryptStream, Rc4ObjectKeyOfAFortyBitFileKeyHasTenBytes) {
    Encryption e;
    e.keyBytes = 5;
    e.make();
    ASSERT_EQ(e.key.size(), 5u);
    EXPECT_EQ(decrypt(e.rc4Object("forty bits", 3), e.key, kCryptRc4, 3, 0), "forty bits");
}

TEST(DecryptStream, AesSkipsTheChainingBlockAndRemovesThePadding) {
    const std::string key = "0123456789ABCDEF";
    EXPECT_EQ(decrypt(aesObject(key, "hello world", 7), key, kCryptAes128, 7, 0), "hello world");
    const std::string exact(32, 'x');
    // A text of whole blocks is followed by one block of padding alone.
    EXPECT_EQ(decrypt(aesObject(key, exact, 7), key, kCryptAes128, 7, 0), exact);
}

TEST(DecryptStream, AesLastByteSixteenLosesTheWholeLastBlock) {
    const std::string key = "0123456789ABCDEF";
    unsigned char objectKey[16];
    DecryptStream::makeObjectKey(bytesOf(key), 16, kCryptAes128, 4, 0, objectKey);
    const std::string plain = std::string(16, 'a') + std::string(15, 'b') + char(16);
    const std::string cipher =
        test::aesCbcCiphertext(std::string(reinterpret_cast<char*>(objectKey), 16), plain);
    EXPECT_EQ(decrypt(cipher, key, kCryptAes128, 4, 0), std::string(16, 'a'));
}

TEST(DecryptStream, AesTrailingPartialBlockEndsTheData) {
    const std::string key = "0123456789ABCDEF";
    const std::string cipher = aesObject(key, "twelve bytes", 5);
    // The padded block is no longer last, so it keeps its padding bytes.
    EXPECT_EQ(decrypt(cipher + "12345", key, kCryptAes128, 5, 0), std::string("twelve bytes") + "\4\4\4\4");
    // Only a chaining block, or less: no data.
    EXPECT_EQ(decrypt(cipher.substr(0, 16), key, kCryptAes128, 5, 0), "");
    EXPECT_EQ(decrypt(cipher.substr(0, 9), key, kCryptAes128, 5, 0), "");
    EXPECT_EQ(decrypt("", key, kCryptAes128, 5, 0), "");
}

// ---- key derivation -------------------------------------------------------

struct Derived {
    bool accepted;
    bool ownerOk;
    std::string key;
};

Derived derive(const Encryption& e, const char* owner, const char* user) {
    DynString o(e.o.data(), int(e.o.size())), u(e.u.data(), int(e.u.size()));
    DynString id(e.fileId.data(), int(e.fileId.size()));
    DynString ownerPassword(owner ? owner : ""), userPassword(user ? user : "");
    unsigned char key[16] = {};
    bool ownerOk = true;
    const bool accepted =
        makeFileKey(2, e.revision, e.keyBytes, o, u, e.permissions, id, owner ? &ownerPassword : nullptr,
                    user ? &userPassword : nullptr, key, e.encryptMetadata, &ownerOk);
    return {accepted, ownerOk, std::string(reinterpret_cast<char*>(key), size_t(e.keyBytes))};
}

TEST(FileKey, EitherPasswordGivesTheKeyInBothRevisions) {
    for (int revision : {2, 3}) {
        SCOPED_TRACE(revision);
        Encryption e;
        e.revision = revision;
        e.keyBytes = revision == 2 ? 5 : 16;
        e.make();
        Derived byUser = derive(e, nullptr, "user");
        EXPECT_TRUE(byUser.accepted);
        EXPECT_FALSE(byUser.ownerOk);
        EXPECT_EQ(byUser.key, e.key);
        Derived byOwner = derive(e, "owner", nullptr);
        EXPECT_TRUE(byOwner.accepted);
        EXPECT_TRUE(byOwner.ownerOk);
        EXPECT_EQ(byOwner.key, e.key);
        EXPECT_FALSE(derive(e, "wrong", "wrong").accepted);
        EXPECT_FALSE(derive(e, nullptr, nullptr).accepted);
    }
}

TEST(FileKey, WrongOwnerPasswordFallsThroughToTheUserCheck) {
    Encryption e;
    e.make();
    // A reader that asks for one password passes it in both places.
    Derived d = derive(e, "user", "user");
    EXPECT_TRUE(d.accepted);
    EXPECT_FALSE(d.ownerOk);
    EXPECT_EQ(d.key, e.key);
}

TEST(FileKey, EmptyUserPasswordOpensWithoutPasswords) {
    Encryption e;
    e.userPassword = "";
    e.make();
    Derived d = derive(e, nullptr, nullptr);
    EXPECT_TRUE(d.accepted);
    EXPECT_EQ(d.key, e.key);
}

TEST(FileKey, PasswordLongerThan32BytesIsCut) {
    Encryption e;
    e.userPassword = std::string(32, 'p');
    e.make();
    EXPECT_TRUE(derive(e, nullptr, (std::string(32, 'p') + "ignored").c_str()).accepted);
    EXPECT_FALSE(derive(e, nullptr, std::string(31, 'p').c_str()).accepted);
}

TEST(FileKey, FileIdentifierOfAnyLength) {
    for (size_t length : {size_t(0), size_t(5), size_t(16), size_t(300)}) {
        SCOPED_TRACE(length);
        Encryption e;
        e.fileId = std::string(length, '\x93');
        e.make();
        EXPECT_TRUE(derive(e, nullptr, "user").accepted);
        EXPECT_TRUE(derive(e, "owner", nullptr).accepted);
    }
}

TEST(FileKey, MetadataInClearChangesTheKey) {
    Encryption e;
    e.encryptMetadata = false;
    e.make();
    Derived d = derive(e, nullptr, "user");
    EXPECT_TRUE(d.accepted);
    EXPECT_EQ(d.key, e.key);
    Encryption withMetadata = e;
    withMetadata.encryptMetadata = true;
    EXPECT_FALSE(derive(withMetadata, nullptr, "user").accepted);
}

// ---- documents ------------------------------------------------------------

// A one-page document whose content stream (object 4) and outline title
// (object 7) are encrypted with RC4, or AES-128 when aes is set.
std::string encryptedDocument(const Encryption& e, const std::string& encryptDict, bool aes = false) {
    const std::string content = "0 0 m 100 100 l S";
    const std::string title = "Encrypted title";
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 6 0 R >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>")
        .stream(4, "<< >>", aes ? aesObject(e.key, content, 4) : e.rc4Object(content, 4))
        .object(5, encryptDict)
        .object(6, "<< /Type /Outlines /First 7 0 R /Last 7 0 R /Count 1 >>")
        .object(7, "<< /Title <" + test::hexOf(aes ? aesObject(e.key, title, 7) : e.rc4Object(title, 7)) +
                       "> /Parent 6 0 R /Dest [3 0 R /Fit] >>")
        .xrefTable(Xref().trailer(e.trailer(5)));
    return pdf.bytes();
}

std::string contentOf(PdfDocument& doc) {
    PdfValue contents;
    doc.getPage(1)->getContents().fetch(doc.getXref(), contents);
    return contents.isStream() ? test::readAll(contents.getStream()) : "(not a stream)";
}

std::string titleOf(PdfDocument& doc) {
    const auto* items = doc.getOutline()->getItems();
    if (!items || items->getLength() == 0)
        return "(no item)";
    const OutlineItem* item = items->get(0);
    std::string text;
    for (int i = 0; i < item->getTitleLength(); ++i)
        text += char(item->getTitle()[i]);
    return text;
}

TEST(EncryptedDocument, OpensWithEitherPasswordAndDecryptsStreamsAndStrings) {
    Encryption e;
    e.make();
    const std::string bytes = encryptedDocument(e, e.dict(2));
    for (const char* password : {"user", "owner"}) {
        SCOPED_TRACE(password);
        auto doc = test::openBytes(bytes, password, password);
        ASSERT_TRUE(doc->isOk()) << doc->getErrorCode();
        EXPECT_TRUE(doc->getXref()->isEncrypted());
        EXPECT_EQ(doc->getXref()->isOwnerPasswordOk(), std::string(password) == "owner");
        EXPECT_EQ(doc->getPermissions(), -4);
        EXPECT_EQ(doc->getXref()->getKeyLength(), 16);
        EXPECT_EQ(contentOf(*doc), "0 0 m 100 100 l S");
        EXPECT_EQ(titleOf(*doc), "Encrypted title");
    }
}

TEST(EncryptedDocument, WithoutOrWithAWrongPasswordFailsWithTheEncryptionCode) {
    Encryption e;
    e.make();
    const std::string bytes = encryptedDocument(e, e.dict(2));
    ErrorCapture errors;
    EXPECT_EQ(test::openBytes(bytes)->getErrorCode(), PdfDocument::kErrorEncrypted);
    auto wrong = test::openBytes(bytes, "nobody", "nobody");
    EXPECT_FALSE(wrong->isOk());
    EXPECT_EQ(wrong->getErrorCode(), PdfDocument::kErrorEncrypted);
    EXPECT_TRUE(errors.contains("password"));
}

TEST(EncryptedDocument, VersionOneRevisionTwoWithoutLengthUsesAFortyBitKey) {
    Encryption e;
    e.revision = 2;
    e.keyBytes = 5;
    e.make();
    auto doc = test::openBytes(encryptedDocument(e, e.dict(1)), nullptr, "user");
    ASSERT_TRUE(doc->isOk());
    EXPECT_EQ(doc->getXref()->getKeyLength(), 5);
    EXPECT_EQ(contentOf(*doc), "0 0 m 100 100 l S");
}

TEST(EncryptedDocument, LengthBelowEightBitsIsTakenAsFortyBits) {
    Encryption e;
    e.revision = 3;
    e.keyBytes = 5;
    e.make();
    for (const char* length : {"/Length 4", "/Length 0", "/Length -64"}) {
        SCOPED_TRACE(length);
        auto doc = test::openBytes(encryptedDocument(e, e.dict(1, length)), nullptr, "user");
        ASSERT_TRUE(doc->isOk());
        EXPECT_EQ(doc->getXref()->getKeyLength(), 5);
        EXPECT_EQ(contentOf(*doc), "0 0 m 100 100 l S");
    }
}

std::string cryptFilterDict(const Encryption& e, const std::string& method, const std::string& streamFilter,
                            const std::string& stringFilter, const std::string& extra = "") {
    return "<< /Filter /Standard /V 4 /R 4 /O <" + test::hexOf(e.o) + "> /U <" + test::hexOf(e.u) + "> /P " +
           std::to_string(e.permissions) + " /CF << /StdCF << /CFM /" + method +
           " /Length 16 /AuthEvent /DocOpen >> >> /StmF /" + streamFilter + " /StrF /" + stringFilter + " " +
           extra + " >>";
}

TEST(EncryptedDocument, AesV2CryptFilterIsAes128WithRevisionThreeKeys) {
    Encryption e;
    e.make();
    auto doc = test::openBytes(encryptedDocument(e, cryptFilterDict(e, "AESV2", "StdCF", "StdCF"), true),
                               "owner", nullptr);
    ASSERT_TRUE(doc->isOk()) << doc->getErrorCode();
    EXPECT_EQ(doc->getXref()->getEncryptionAlgorithm(), kCryptAes128);
    EXPECT_EQ(doc->getXref()->getEncryptionVersion(), 2);
    EXPECT_TRUE(doc->getXref()->isOwnerPasswordOk());
    EXPECT_EQ(contentOf(*doc), "0 0 m 100 100 l S");
    EXPECT_EQ(titleOf(*doc), "Encrypted title");
}

TEST(EncryptedDocument, V2CryptFilterIsRc4) {
    Encryption e;
    e.make();
    auto doc =
        test::openBytes(encryptedDocument(e, cryptFilterDict(e, "V2", "StdCF", "StdCF")), nullptr, "user");
    ASSERT_TRUE(doc->isOk());
    EXPECT_EQ(doc->getXref()->getEncryptionAlgorithm(), kCryptRc4);
    EXPECT_EQ(contentOf(*doc), "0 0 m 100 100 l S");
}

TEST(EncryptedDocument, EncryptionDictionaryAndCrossReferenceStreamStayInClear) {
    // The format leaves both unencrypted; read later through the table, they
    // must not be decrypted as other objects are.
    Encryption e;
    e.make();
    const std::string content = "0 0 m 100 100 l S";
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3, "<< /Type /Page /Parent 2 0 R /Contents 4 0 R >>")
        .stream(4, "<< >>", e.rc4Object(content, 4))
        .object(5, e.dict(2))
        .xrefStream(6, Xref().trailer(e.trailer(5)));
    auto doc = test::openBytes(pdf.bytes(), nullptr, "user");
    ASSERT_TRUE(doc->isOk()) << doc->getErrorCode();
    EXPECT_EQ(contentOf(*doc), content);

    PdfValue dict, o;
    doc->getXref()->fetch(5, 0, dict);
    ASSERT_TRUE(dict.dictLookup("O", o).isString());
    EXPECT_EQ(std::string(o.getString()->getCString(), size_t(o.getString()->getLength())), e.o);

    PdfValue stream, id, first;
    doc->getXref()->fetch(6, 0, stream);
    ASSERT_TRUE(stream.isStream());
    ASSERT_TRUE(stream.dictLookup("ID", id).isArray());
    id.getArray()->get(0, first);
    ASSERT_TRUE(first.isString());
    EXPECT_EQ(std::string(first.getString()->getCString(), size_t(first.getString()->getLength())), e.fileId);
    // Seven entries (0 to 6) of 1 + 4 + 2 bytes, the first the free head.
    const std::string data = test::readAll(stream.getStream());
    ASSERT_EQ(data.size(), 49u);
    EXPECT_EQ(data.substr(0, 7), std::string("\0\0\0\0\0\xff\xff", 7));
}

TEST(EncryptedDocument, UnsupportedSetupsFailWithTheEncryptionCode) {
    Encryption e;
    e.make();
    const std::string o = test::hexOf(e.o), u = test::hexOf(e.u);
    const std::string cases[] = {
        // Different filters for streams and strings.
        cryptFilterDict(e, "AESV2", "StdCF", "Other"),
        // 256-bit AES.
        cryptFilterDict(e, "AESV3", "StdCF", "StdCF"),
        "<< /Filter /Standard /V 5 /R 6 /O <" + o + "> /U <" + u + "> /P -4 >>",
        // Another handler.
        "<< /Filter /Custom /V 2 /R 3 /O <" + o + "> /U <" + u + "> /P -4 >>",
        // O of the wrong length; P missing.
        "<< /Filter /Standard /V 2 /R 3 /O <" + o.substr(2) + "> /U <" + u + "> /P -4 >>",
        "<< /Filter /Standard /V 2 /R 3 /O <" + o + "> /U <" + u + "> >>",
    };
    for (const std::string& dict : cases) {
        SCOPED_TRACE(dict);
        ErrorCapture errors;
        auto doc = test::openBytes(encryptedDocument(e, dict), "owner", "user");
        EXPECT_FALSE(doc->isOk());
        EXPECT_EQ(doc->getErrorCode(), PdfDocument::kErrorEncrypted);
        EXPECT_FALSE(errors.empty());
    }
}

}  // namespace
}  // namespace rendova
