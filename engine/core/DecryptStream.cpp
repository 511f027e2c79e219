#include "engine/core/DecryptStream.h"

#include <algorithm>
#include <cstring>

namespace rendova {

namespace {

// Appended to the object key material for AES, as the format prescribes.
constexpr unsigned char kAesSalt[4] = {0x73, 0x41, 0x6C, 0x54};

int clampKeyLength(int keyLength) {
    return std::clamp(keyLength, 1, 16);
}

}  // namespace

void DecryptStream::makeObjectKey(const unsigned char* fileKey, int keyLength, int algorithm, int num,
                                  int gen, unsigned char objectKey[16]) {
    keyLength = clampKeyLength(keyLength);
    unsigned char material[16 + 5 + 4];
    std::memcpy(material, fileKey, size_t(keyLength));
    int n = keyLength;
    material[n++] = static_cast<unsigned char>(num);
    material[n++] = static_cast<unsigned char>(num >> 8);
    material[n++] = static_cast<unsigned char>(num >> 16);
    material[n++] = static_cast<unsigned char>(gen);
    material[n++] = static_cast<unsigned char>(gen >> 8);
    if (algorithm == kCryptAes128) {
        std::memcpy(material + n, kAesSalt, sizeof kAesSalt);
        n += int(sizeof kAesSalt);
    }
    md5(material, size_t(n), objectKey);
}

DecryptStream::DecryptStream(RefPtr<DataStream> source, const unsigned char* fileKey, int algorithm,
                             int keyLength, int num, int gen)
    : DecoderStream(std::move(source)), m_algorithm(algorithm == kCryptAes128 ? kCryptAes128 : kCryptRc4) {
    makeObjectKey(fileKey, keyLength, m_algorithm, num, gen, m_objectKey);
    m_objectKeyLength = std::min(clampKeyLength(keyLength) + 5, 16);
    std::memset(&m_aes, 0, sizeof m_aes);
    m_aes.bufIdx = 16;
    m_atEnd = true;
}

void DecryptStream::reset() {
    source()->reset();
    m_next = -1;
    m_atEnd = false;
    if (m_algorithm == kCryptRc4) {
        rc4InitKey(m_objectKey, m_objectKeyLength, m_rc4State);
        m_rc4X = m_rc4Y = 0;
        return;
    }
    // AES: the first block of the data is the initial chaining block.
    aesExpandKey(&m_aes, m_objectKey, 16);
    m_aes.bufIdx = 16;
    for (int i = 0; i < 16; ++i) {
        const int c = source()->getChar();
        if (c == -1) {
            m_atEnd = true;
            return;
        }
        m_aes.cbc[i] = static_cast<unsigned char>(c);
    }
}

bool DecryptStream::nextAesBlock() {
    unsigned char block[16];
    for (int i = 0; i < 16; ++i) {
        const int c = source()->getChar();
        // A partial block cannot be decrypted: it ends the data.
        if (c == -1)
            return false;
        block[i] = static_cast<unsigned char>(c);
    }
    aesDecryptBlock(&m_aes, block, source()->peekChar() == -1);
    return true;
}

int DecryptStream::peekChar() {
    if (m_next != -1)
        return m_next;
    if (m_atEnd)
        return -1;
    if (m_algorithm == kCryptRc4) {
        const int c = source()->getChar();
        if (c == -1) {
            m_atEnd = true;
            return -1;
        }
        m_next = rc4NextByte(m_rc4State, &m_rc4X, &m_rc4Y, static_cast<unsigned char>(c));
        return m_next;
    }
    // A last block made only of padding delivers nothing: read on.
    while (m_aes.bufIdx >= 16) {
        if (!nextAesBlock()) {
            m_atEnd = true;
            return -1;
        }
    }
    m_next = m_aes.buf[m_aes.bufIdx++];
    return m_next;
}

FileKeyDecryptor::FileKeyDecryptor(const unsigned char* fileKey, int keyLength, int algorithm)
    : m_keyLength(clampKeyLength(keyLength)), m_algorithm(algorithm) {
    std::memcpy(m_fileKey, fileKey, size_t(m_keyLength));
}

RefPtr<DataStream> FileKeyDecryptor::decryptStream(RefPtr<DataStream> source, int num, int gen) const {
    return RefPtr<DataStream>::adopt(
        new DecryptStream(std::move(source), m_fileKey, m_algorithm, m_keyLength, num, gen));
}

}  // namespace rendova
