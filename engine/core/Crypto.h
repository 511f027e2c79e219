#pragma once

#include <cstddef>
#include <cstdint>

namespace rendova {

// The three primitives of the standard security handler, written here so that
// the engine depends on no crypto library: MD5 (RFC 1321) for key derivation,
// RC4 (the published stream cipher) and the AES-128 inverse cipher (FIPS 197)
// in CBC mode for decryption. Only what decrypting a document needs: no
// encryption direction of AES. Plain functions over caller-owned state; any
// thread; never throw.

// The 16-byte MD5 digest of length bytes.
void md5(const unsigned char* bytes, size_t length, unsigned char digest[16]);

// The RC4 key schedule: the 256-byte permutation for a key of length bytes
// (length 1-256; a longer key uses its first 256 bytes). The two indices of
// the generator start at 0.
void rc4InitKey(const unsigned char* key, int length, unsigned char state[256]);
// Advances the generator (x, y) and returns byte XOR the next key-stream byte.
unsigned char rc4NextByte(unsigned char state[256], unsigned char* x, unsigned char* y, unsigned char byte);

// The AES-128 CBC decryption state of one stream: the expanded key, the
// previous cipher block, and the last decrypted block with the index of its
// next byte to deliver (16 when it is used up).
struct AesState {
    uint32_t w[44];
    unsigned char cbc[16];
    unsigned char buf[16];
    int bufIdx;
};

// Expands the 16-byte key (a shorter key is padded with zero bytes). The
// chaining block and the buffer are left to the caller.
void aesExpandKey(AesState* state, const unsigned char* key, int length);
// Decrypts one cipher block: buf = InvCipher(in) XOR cbc, cbc = in, and
// bufIdx = 0. For the last block of the data the padding is removed: the
// last plaintext byte v says how many bytes to drop, the remaining 16 - v
// bytes move to the end of buf and bufIdx = v. A padding value of 0 or above
// 16 is no padding at all: the whole block is kept.
void aesDecryptBlock(AesState* state, const unsigned char in[16], bool last);

}  // namespace rendova
