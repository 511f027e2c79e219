#pragma once

#include <memory>

#include "engine/core/DynString.h"
#include "engine/core/PdfValue.h"

namespace rendova {

class PdfDocument;

// The security handler that an encrypted document names in its encryption
// dictionary: it authorises a password and derives the file key, which the
// document then hands to its cross-reference table for decryption. Only the
// password-based standard handler exists. There is no interactive prompt:
// the passwords given at opening are the only ones tried.
//
// Ownership: made by the document while it opens and deleted right after the
// authorisation; it keeps a plain pointer to the document. One thread at a
// time; throws MemoryException only.
class SecurityHandler {
public:
    // An authorisation record: copies of the passwords to try.
    class AuthData {
    public:
        virtual ~AuthData() = default;
    };

    // The handler for the encryption dictionary, or null (reported) when its
    // Filter is not the standard handler's name.
    static std::unique_ptr<SecurityHandler> create(PdfDocument* document, const PdfValue& encryptDict);

    explicit SecurityHandler(PdfDocument* document) : m_document(document) {}
    virtual ~SecurityHandler() = default;
    SecurityHandler(const SecurityHandler&) = delete;
    SecurityHandler& operator=(const SecurityHandler&) = delete;

    // Authorises with the passwords (either may be null): true when one was
    // accepted and the file key derived. Without passwords the empty user
    // password is tried.
    bool checkEncryption(const DynString* ownerPassword, const DynString* userPassword);

    virtual AuthData* makeAuthData(const DynString* ownerPassword, const DynString* userPassword) = 0;
    // A further record to try after a failure; this system has no prompt.
    virtual AuthData* getAuthData() { return nullptr; }
    virtual void freeAuthData(AuthData* authData) = 0;
    // True when a password of the record (or, without a record, the empty
    // user password) is accepted and the file key derived.
    virtual bool authorize(AuthData* authData) = 0;
    virtual int getPermissionFlags() const = 0;
    virtual bool isOwnerPasswordOk() const = 0;
    virtual const unsigned char* getFileKey() const = 0;
    virtual int getFileKeyLength() const = 0;
    virtual int getEncryptionVersion() const = 0;
    // 0 RC4, 1 AES-128 (EncryptionAlgorithm of DecryptStream.h).
    virtual int getEncryptionAlgorithm() const = 0;

protected:
    PdfDocument* m_document;
};

// The password-based standard security handler of the PDF format: V 1 or 2
// with R 2 or 3 (RC4 with a key of 40 to 128 bits), and V 4 / R 4 whose crypt
// filter is V2 (RC4) or AESV2 (AES-128), read as V 2 / R 3. Other versions
// (among them 256-bit AES, V 5) are reported and every authorisation fails.
class StandardSecurityHandler : public SecurityHandler {
public:
    StandardSecurityHandler(PdfDocument* document, const PdfValue& encryptDict);

    AuthData* makeAuthData(const DynString* ownerPassword, const DynString* userPassword) override;
    void freeAuthData(AuthData* authData) override;
    bool authorize(AuthData* authData) override;
    int getPermissionFlags() const override { return m_permissions; }
    bool isOwnerPasswordOk() const override { return m_ownerPasswordOk; }
    const unsigned char* getFileKey() const override { return m_fileKey; }
    int getFileKeyLength() const override { return m_fileKeyLength; }
    int getEncryptionVersion() const override { return m_version; }
    int getEncryptionAlgorithm() const override { return m_algorithm; }
    int getRevision() const { return m_revision; }
    bool isOk() const { return m_ok; }

private:
    int m_permissions = 0;
    bool m_ownerPasswordOk = false;
    unsigned char m_fileKey[16] = {};
    int m_fileKeyLength = 5;
    int m_version = 0;
    int m_revision = 0;
    int m_algorithm = 0;
    bool m_encryptMetadata = true;
    DynString m_ownerKey;
    DynString m_userKey;
    DynString m_fileId;
    bool m_ok = false;
};

// The file key from the owner or the user password, by the format's password
// algorithms (revisions 2 and 3). n is the key length in bytes (1-16); O and
// U are the 32-byte entries of the encryption dictionary, P the permission
// flags, fileId the first string of the trailer's ID (any length). With an
// owner password the user password is recovered from O and checked; when that
// fails, the user password is checked in its turn. True when a password was
// accepted; key then holds n bytes and *ownerPasswordOk tells which one.
bool makeFileKey(int version, int revision, int n, const DynString& ownerKey, const DynString& userKey,
                 int permissions, const DynString& fileId, const DynString* ownerPassword,
                 const DynString* userPassword, unsigned char key[16], bool encryptMetadata,
                 bool* ownerPasswordOk);

// The user password check: derives the key from the password (null: the
// empty password) and compares the decrypted U with what it must be. True
// when the password is right.
bool makeFileKeyFromPassword(int version, int revision, int n, const DynString& ownerKey,
                             const DynString& userKey, int permissions, const DynString& fileId,
                             const DynString* userPassword, unsigned char key[16], bool encryptMetadata);

}  // namespace rendova
