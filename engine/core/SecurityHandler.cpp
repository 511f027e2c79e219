#include "engine/core/SecurityHandler.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/core/Crypto.h"
#include "engine/core/DecryptStream.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/PdfDocument.h"
#include "engine/core/XrefTable.h"

namespace rendova {

namespace {

// Passwords are padded (or cut) to 32 bytes with these bytes before hashing.
constexpr unsigned char kPasswordPad[32] = {
    0x28, 0xbf, 0x4e, 0x5e, 0x4e, 0x75, 0x8a, 0x41, 0x64, 0x00, 0x4e, 0x56, 0xff, 0xfa, 0x01, 0x08,
    0x2e, 0x2e, 0x00, 0xb6, 0xd0, 0x68, 0x3e, 0x80, 0x2f, 0x0c, 0xa9, 0xfe, 0x64, 0x53, 0x69, 0x7a,
};

// The O and U entries of revisions 2 and 3 are exactly this long.
constexpr int kKeyEntryLength = 32;
// Revision 3 hashes the key this many more times, and runs RC4 with this
// many variants of the key, by the format's password algorithms.
constexpr int kRevision3HashRounds = 50;
constexpr int kRevision3Rc4Rounds = 20;
// The default key length of the format: 40 bits.
constexpr int kDefaultKeyLength = 5;

class StandardAuthData : public SecurityHandler::AuthData {
public:
    StandardAuthData(const DynString* owner, const DynString* user)
        : ownerPassword(owner ? std::make_unique<DynString>(*owner) : nullptr),
          userPassword(user ? std::make_unique<DynString>(*user) : nullptr) {}
    std::unique_ptr<DynString> ownerPassword;
    std::unique_ptr<DynString> userPassword;
};

void padPassword(const DynString* password, unsigned char out[32]) {
    const int length = password ? std::min(password->getLength(), 32) : 0;
    if (length > 0)
        std::memcpy(out, password->getCString(), size_t(length));
    std::memcpy(out + length, kPasswordPad, size_t(32 - length));
}

// RC4 over data in place with key XORed with each of the rounds' values,
// from rounds - 1 down to 0 (decryption of revision 3's twenty passes).
void rc4Rounds(unsigned char* data, int length, const unsigned char* key, int n, int rounds) {
    unsigned char roundKey[16];
    unsigned char state[256];
    for (int i = rounds - 1; i >= 0; --i) {
        for (int j = 0; j < n; ++j)
            roundKey[j] = static_cast<unsigned char>(key[j] ^ i);
        rc4InitKey(roundKey, n, state);
        unsigned char x = 0, y = 0;
        for (int j = 0; j < length; ++j)
            data[j] = rc4NextByte(state, &x, &y, data[j]);
    }
}

void rc4Once(unsigned char* data, int length, const unsigned char* key, int n) {
    unsigned char state[256];
    rc4InitKey(key, n, state);
    unsigned char x = 0, y = 0;
    for (int j = 0; j < length; ++j)
        data[j] = rc4NextByte(state, &x, &y, data[j]);
}

}  // namespace

// ---- SecurityHandler ------------------------------------------------------

std::unique_ptr<SecurityHandler> SecurityHandler::create(PdfDocument* document, const PdfValue& encryptDict) {
    PdfValue filter;
    encryptDict.dictLookup("Filter", filter);
    if (filter.isName("Standard"))
        return std::make_unique<StandardSecurityHandler>(document, encryptDict);
    reportError(-1, "Unknown security handler '%s'", filter.isName() ? filter.getName() : "?");
    return nullptr;
}

bool SecurityHandler::checkEncryption(const DynString* ownerPassword, const DynString* userPassword) {
    bool ok;
    if (ownerPassword || userPassword) {
        AuthData* authData = makeAuthData(ownerPassword, userPassword);
        ok = authorize(authData);
        freeAuthData(authData);
    } else {
        ok = authorize(nullptr);
    }
    while (!ok) {
        AuthData* more = getAuthData();
        if (!more) {
            reportError(-1, "Incorrect password");
            return false;
        }
        ok = authorize(more);
        freeAuthData(more);
    }
    return true;
}

// ---- StandardSecurityHandler ----------------------------------------------

StandardSecurityHandler::StandardSecurityHandler(PdfDocument* document, const PdfValue& encryptDict)
    : SecurityHandler(document) {
    PdfValue v, r, length, o, u, p, id;
    encryptDict.dictLookup("V", v);
    encryptDict.dictLookup("R", r);
    encryptDict.dictLookup("Length", length);
    encryptDict.dictLookup("O", o);
    encryptDict.dictLookup("U", u);
    encryptDict.dictLookup("P", p);
    const PdfValue& trailer = document->getXref()->getTrailer();
    if (trailer.isDict())
        trailer.dictLookup("ID", id);

    if (!v.isInt() || !r.isInt() || !p.isInt() || !o.isString() ||
        o.getString()->getLength() != kKeyEntryLength || !u.isString() ||
        u.getString()->getLength() != kKeyEntryLength) {
        reportError(-1, "Malformed encryption dictionary");
        return;
    }
    m_version = v.getInt();
    m_revision = r.getInt();
    m_permissions = p.getInt();

    // A Length below 8 bits would make a key of no bytes: such a dictionary
    // gets the format's default of 40 bits.
    if (m_revision == 2 || !length.isInt() || length.getInt() / 8 < 1)
        m_fileKeyLength = kDefaultKeyLength;
    else
        m_fileKeyLength = std::min(length.getInt() / 8, 16);

    if (m_version == 4 && m_revision == 4) {
        PdfValue cryptFilters, streamFilter, stringFilter;
        encryptDict.dictLookup("CF", cryptFilters);
        encryptDict.dictLookup("StmF", streamFilter);
        encryptDict.dictLookup("StrF", stringFilter);
        if (cryptFilters.isDict() && streamFilter.isName() && stringFilter.isName() &&
            std::strcmp(streamFilter.getName(), stringFilter.getName()) == 0) {
            PdfValue cryptFilter;
            cryptFilters.dictLookup(streamFilter.getName(), cryptFilter);
            if (cryptFilter.isDict()) {
                PdfValue method;
                cryptFilter.dictLookup("CFM", method);
                if (method.isName("V2") || method.isName("AESV2")) {
                    m_algorithm = method.isName("AESV2") ? kCryptAes128 : kCryptRc4;
                    m_version = 2;
                    m_revision = 3;
                    PdfValue filterLength;
                    cryptFilter.dictLookup("Length", filterLength);
                    // The crypt filter's Length counts bytes here; one of no
                    // bytes gets the default as above.
                    if (filterLength.isInt())
                        m_fileKeyLength = filterLength.getInt() < 1 ? kDefaultKeyLength
                                                                    : std::min(filterLength.getInt(), 16);
                }
            }
        }
        PdfValue encryptMetadata;
        encryptDict.dictLookup("EncryptMetadata", encryptMetadata);
        if (encryptMetadata.isBool())
            m_encryptMetadata = encryptMetadata.getBool();
    }

    m_ownerKey.appendBytes(o.getString()->getCString(), kKeyEntryLength);
    m_userKey.appendBytes(u.getString()->getCString(), kKeyEntryLength);

    if ((m_version != 1 && m_version != 2) || (m_revision != 2 && m_revision != 3)) {
        reportError(-1, "Unsupported version %d or revision %d of the standard security handler", m_version,
                    m_revision);
        return;
    }

    if (id.isArray()) {
        PdfValue first;
        id.getArray()->get(0, first);
        if (first.isString())
            m_fileId.append(*first.getString());
    }
    m_ok = true;
}

SecurityHandler::AuthData* StandardSecurityHandler::makeAuthData(const DynString* ownerPassword,
                                                                 const DynString* userPassword) {
    return new StandardAuthData(ownerPassword, userPassword);
}

void StandardSecurityHandler::freeAuthData(AuthData* authData) {
    delete authData;
}

bool StandardSecurityHandler::authorize(AuthData* authData) {
    if (!m_ok)
        return false;
    const auto* passwords = static_cast<StandardAuthData*>(authData);
    const DynString* owner = passwords ? passwords->ownerPassword.get() : nullptr;
    const DynString* user = passwords ? passwords->userPassword.get() : nullptr;
    return makeFileKey(m_version, m_revision, m_fileKeyLength, m_ownerKey, m_userKey, m_permissions, m_fileId,
                       owner, user, m_fileKey, m_encryptMetadata, &m_ownerPasswordOk);
}

// ---- key derivation -------------------------------------------------------

bool makeFileKey(int version, int revision, int n, const DynString& ownerKey, const DynString& userKey,
                 int permissions, const DynString& fileId, const DynString* ownerPassword,
                 const DynString* userPassword, unsigned char key[16], bool encryptMetadata,
                 bool* ownerPasswordOk) {
    *ownerPasswordOk = false;
    n = std::clamp(n, 1, 16);
    if (ownerPassword && ownerKey.getLength() >= kKeyEntryLength) {
        // The owner password's key decrypts O into the user password.
        unsigned char padded[32];
        padPassword(ownerPassword, padded);
        unsigned char digest[16];
        md5(padded, sizeof padded, digest);
        if (revision == 3)
            for (int i = 0; i < kRevision3HashRounds; ++i)
                md5(digest, 16, digest);

        unsigned char recovered[kKeyEntryLength];
        std::memcpy(recovered, ownerKey.getCString(), kKeyEntryLength);
        if (revision == 2)
            rc4Once(recovered, kKeyEntryLength, digest, n);
        else
            rc4Rounds(recovered, kKeyEntryLength, digest, n, kRevision3Rc4Rounds);

        const DynString recoveredPassword(reinterpret_cast<const char*>(recovered), kKeyEntryLength);
        if (makeFileKeyFromPassword(version, revision, n, ownerKey, userKey, permissions, fileId,
                                    &recoveredPassword, key, encryptMetadata)) {
            *ownerPasswordOk = true;
            return true;
        }
        // A wrong owner password may still be the user password (a reader
        // asked for one password and passes it as both).
    }
    return makeFileKeyFromPassword(version, revision, n, ownerKey, userKey, permissions, fileId, userPassword,
                                   key, encryptMetadata);
}

bool makeFileKeyFromPassword(int version, int revision, int n, const DynString& ownerKey,
                             const DynString& userKey, int permissions, const DynString& fileId,
                             const DynString* userPassword, unsigned char key[16], bool encryptMetadata) {
    (void)version;
    n = std::clamp(n, 1, 16);
    if (ownerKey.getLength() < kKeyEntryLength || userKey.getLength() < kKeyEntryLength)
        return false;
    if (revision != 2 && revision != 3)
        return false;

    // Password, O, P (little-endian), the file identifier (of any length)
    // and, when the metadata stays in clear, four 0xff bytes.
    std::vector<unsigned char> buffer(32 + kKeyEntryLength + 4 + size_t(fileId.getLength()) + 4);
    size_t at = 0;
    padPassword(userPassword, buffer.data());
    at += 32;
    std::memcpy(buffer.data() + at, ownerKey.getCString(), kKeyEntryLength);
    at += kKeyEntryLength;
    for (int i = 0; i < 4; ++i)
        buffer[at++] = static_cast<unsigned char>(uint32_t(permissions) >> (8 * i));
    if (fileId.getLength() > 0)
        std::memcpy(buffer.data() + at, fileId.getCString(), size_t(fileId.getLength()));
    at += size_t(fileId.getLength());
    if (!encryptMetadata)
        for (int i = 0; i < 4; ++i)
            buffer[at++] = 0xff;
    unsigned char digest[16];
    md5(buffer.data(), at, digest);

    unsigned char decrypted[kKeyEntryLength];
    std::memcpy(decrypted, userKey.getCString(), kKeyEntryLength);
    bool right;
    if (revision == 3) {
        for (int i = 0; i < kRevision3HashRounds; ++i)
            md5(digest, size_t(n), digest);
        rc4Rounds(decrypted, kKeyEntryLength, digest, n, kRevision3Rc4Rounds);
        // U holds the MD5 of the padding and the file identifier.
        std::vector<unsigned char> check(32 + size_t(fileId.getLength()));
        std::memcpy(check.data(), kPasswordPad, 32);
        if (fileId.getLength() > 0)
            std::memcpy(check.data() + 32, fileId.getCString(), size_t(fileId.getLength()));
        unsigned char expected[16];
        md5(check.data(), check.size(), expected);
        right = std::memcmp(decrypted, expected, 16) == 0;
    } else {
        rc4Once(decrypted, kKeyEntryLength, digest, n);
        right = std::memcmp(decrypted, kPasswordPad, 32) == 0;
    }
    if (right)
        std::memcpy(key, digest, size_t(n));
    return right;
}

}  // namespace rendova
