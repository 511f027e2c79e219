#pragma once

#include <memory>

#include "engine/core/Crypto.h"
#include "engine/core/DataStream.h"
#include "engine/core/Decryptor.h"

namespace rendova {

// Encryption algorithms of the standard security handler.
enum EncryptionAlgorithm : int { kCryptRc4 = 0, kCryptAes128 = 1 };

// Decrypts the data of one string or stream of an encrypted document with
// RC4 or AES-128 in CBC mode. The object key is the MD5 digest of the file
// key, the object's number and generation (and, for AES, the "sAlT" bytes).
// For AES the first 16 bytes of the data are the initial chaining block, the
// padding of the last block is removed, and a trailing partial block ends the
// data. Holds a reference to its source (see DecoderStream). One thread at a
// time; never throws on bad data.
class DecryptStream : public DecoderStream {
public:
    // keyLength is clamped to 1-16 bytes; key holds at least that many.
    DecryptStream(RefPtr<DataStream> source, const unsigned char* fileKey, int algorithm, int keyLength,
                  int num, int gen);

    int getKind() override { return kOtherKind; }
    void reset() override;
    int getChar() override {
        const int c = peekChar();
        m_next = -1;
        return c;
    }
    int peekChar() override;
    // Decrypted data cannot be expressed as a filter of the raw bytes.
    std::unique_ptr<DynString> getPrintFilter(int, const char*) override { return nullptr; }
    bool isBinary(bool last) override { return source()->isBinary(last); }

    // The object key: min(n + 5, 16) bytes are used by RC4; AES takes all 16.
    static void makeObjectKey(const unsigned char* fileKey, int keyLength, int algorithm, int num, int gen,
                              unsigned char objectKey[16]);

protected:
    ~DecryptStream() override = default;

private:
    // Decrypts the next AES block into the buffer; false at the end of data.
    bool nextAesBlock();

    int m_algorithm;
    unsigned char m_objectKey[16];
    int m_objectKeyLength;
    // RC4: the permutation and the generator's two indices.
    unsigned char m_rc4State[256];
    unsigned char m_rc4X = 0;
    unsigned char m_rc4Y = 0;
    // AES: the key, chaining block and the decrypted block being delivered.
    AesState m_aes;
    // The byte that peekChar decrypted ahead, or -1.
    int m_next = -1;
    bool m_atEnd = false;
};

// The decryptor that the document hands to its cross-reference table once a
// password was accepted: it keeps a copy of the file key and wraps the data
// of each object's strings and streams in a DecryptStream. Owned by the
// table; one thread at a time.
class FileKeyDecryptor : public Decryptor {
public:
    FileKeyDecryptor(const unsigned char* fileKey, int keyLength, int algorithm);

    RefPtr<DataStream> decryptStream(RefPtr<DataStream> source, int num, int gen) const override;

private:
    unsigned char m_fileKey[16] = {};
    int m_keyLength;
    int m_algorithm;
};

}  // namespace rendova
