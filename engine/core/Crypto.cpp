#include "engine/core/Crypto.h"

#include <array>
#include <cstring>

namespace rendova {

// ---- MD5 (RFC 1321) -------------------------------------------------------

namespace {

constexpr uint32_t rotateLeft(uint32_t v, int n) {
    return (v << n) | (v >> (32 - n));
}

// The per-step constants: floor(abs(sin(i + 1)) * 2^32).
constexpr uint32_t kMd5Sine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left rotations of each step, four per round.
constexpr int kMd5Shift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void md5Block(uint32_t h[4], const unsigned char block[64]) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 | uint32_t(block[4 * i + 2]) << 16 |
               uint32_t(block[4 * i + 3]) << 24;
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int g;
        switch (round) {
            case 0:
                f = (b & c) | (~b & d);
                g = i;
                break;
            case 1:
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
                break;
            case 2:
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
                break;
            default:
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
                break;
        }
        const uint32_t next = b + rotateLeft(a + f + kMd5Sine[i] + m[g], kMd5Shift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
}

}  // namespace

void md5(const unsigned char* bytes, size_t length, unsigned char digest[16]) {
    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    size_t done = 0;
    for (; length - done >= 64; done += 64)
        md5Block(h, bytes + done);

    // The tail, the 0x80 marker, zeros, and the bit length (little-endian)
    // in the last 8 bytes of the last block.
    unsigned char tail[128] = {};
    const size_t rest = length - done;
    if (rest > 0)
        std::memcpy(tail, bytes + done, rest);
    tail[rest] = 0x80;
    const size_t tailLength = rest + 1 + 8 <= 64 ? 64 : 128;
    const uint64_t bits = uint64_t(length) * 8;
    for (int i = 0; i < 8; ++i)
        tail[tailLength - 8 + i] = static_cast<unsigned char>(bits >> (8 * i));
    md5Block(h, tail);
    if (tailLength == 128)
        md5Block(h, tail + 64);

    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<unsigned char>(h[i] >> (8 * j));
}

// ---- RC4 ------------------------------------------------------------------

void rc4InitKey(const unsigned char* key, int length, unsigned char state[256]) {
    for (int i = 0; i < 256; ++i)
        state[i] = static_cast<unsigned char>(i);
    if (length <= 0)
        return;
    if (length > 256)
        length = 256;
    unsigned char j = 0;
    for (int i = 0, k = 0; i < 256; ++i) {
        j = static_cast<unsigned char>(j + state[i] + key[k]);
        std::swap(state[i], state[j]);
        if (++k == length)
            k = 0;
    }
}

unsigned char rc4NextByte(unsigned char state[256], unsigned char* x, unsigned char* y, unsigned char byte) {
    *x = static_cast<unsigned char>(*x + 1);
    *y = static_cast<unsigned char>(*y + state[*x]);
    std::swap(state[*x], state[*y]);
    return static_cast<unsigned char>(byte ^ state[static_cast<unsigned char>(state[*x] + state[*y])]);
}

// ---- AES-128 inverse cipher (FIPS 197) ------------------------------------

namespace {

constexpr unsigned char kSbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

constexpr std::array<unsigned char, 256> makeInverseSbox() {
    std::array<unsigned char, 256> inverse{};
    for (int i = 0; i < 256; ++i)
        inverse[kSbox[i]] = static_cast<unsigned char>(i);
    return inverse;
}
constexpr std::array<unsigned char, 256> kInverseSbox = makeInverseSbox();

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr unsigned char gfMul(unsigned char a, unsigned char b) {
    unsigned char product = 0;
    while (b) {
        if (b & 1)
            product ^= a;
        a = static_cast<unsigned char>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
        b >>= 1;
    }
    return product;
}

// Products by the coefficients of InvMixColumns, looked up rather than
// computed per byte.
constexpr std::array<unsigned char, 256> makeMulTable(unsigned char factor) {
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = gfMul(static_cast<unsigned char>(i), factor);
    return table;
}
constexpr std::array<unsigned char, 256> kMul9 = makeMulTable(9);
constexpr std::array<unsigned char, 256> kMul11 = makeMulTable(11);
constexpr std::array<unsigned char, 256> kMul13 = makeMulTable(13);
constexpr std::array<unsigned char, 256> kMul14 = makeMulTable(14);

constexpr int kRounds = 10;

uint32_t subWord(uint32_t w) {
    return uint32_t(kSbox[w >> 24]) << 24 | uint32_t(kSbox[(w >> 16) & 0xff]) << 16 |
           uint32_t(kSbox[(w >> 8) & 0xff]) << 8 | uint32_t(kSbox[w & 0xff]);
}

// The state is kept column by column, as the input bytes come: s[4 c + r].
void addRoundKey(unsigned char s[16], const uint32_t* w) {
    for (int c = 0; c < 4; ++c) {
        s[4 * c] ^= static_cast<unsigned char>(w[c] >> 24);
        s[4 * c + 1] ^= static_cast<unsigned char>(w[c] >> 16);
        s[4 * c + 2] ^= static_cast<unsigned char>(w[c] >> 8);
        s[4 * c + 3] ^= static_cast<unsigned char>(w[c]);
    }
}

// InvShiftRows and InvSubBytes together: row r moves r columns to the right.
void invShiftSubBytes(unsigned char s[16]) {
    unsigned char t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            t[4 * ((c + r) % 4) + r] = kInverseSbox[s[4 * c + r]];
    std::memcpy(s, t, 16);
}

void invMixColumns(unsigned char s[16]) {
    for (int c = 0; c < 4; ++c) {
        unsigned char* col = s + 4 * c;
        const unsigned char a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = kMul14[a0] ^ kMul11[a1] ^ kMul13[a2] ^ kMul9[a3];
        col[1] = kMul9[a0] ^ kMul14[a1] ^ kMul11[a2] ^ kMul13[a3];
        col[2] = kMul13[a0] ^ kMul9[a1] ^ kMul14[a2] ^ kMul11[a3];
        col[3] = kMul11[a0] ^ kMul13[a1] ^ kMul9[a2] ^ kMul14[a3];
    }
}

}  // namespace

void aesExpandKey(AesState* state, const unsigned char* key, int length) {
    unsigned char k[16] = {};
    if (length > 16)
        length = 16;
    if (length > 0)
        std::memcpy(k, key, size_t(length));
    uint32_t* w = state->w;
    for (int i = 0; i < 4; ++i)
        w[i] = uint32_t(k[4 * i]) << 24 | uint32_t(k[4 * i + 1]) << 16 | uint32_t(k[4 * i + 2]) << 8 |
               k[4 * i + 3];
    uint32_t rcon = 0x01;
    for (int i = 4; i < 4 * (kRounds + 1); ++i) {
        uint32_t temp = w[i - 1];
        if (i % 4 == 0) {
            temp = subWord((temp << 8) | (temp >> 24)) ^ (rcon << 24);
            rcon = gfMul(static_cast<unsigned char>(rcon), 2);
        }
        w[i] = w[i - 4] ^ temp;
    }
}

void aesDecryptBlock(AesState* state, const unsigned char in[16], bool last) {
    unsigned char s[16];
    std::memcpy(s, in, 16);
    addRoundKey(s, state->w + 4 * kRounds);
    for (int round = kRounds - 1; round >= 1; --round) {
        invShiftSubBytes(s);
        addRoundKey(s, state->w + 4 * round);
        invMixColumns(s);
    }
    invShiftSubBytes(s);
    addRoundKey(s, state->w);

    for (int i = 0; i < 16; ++i)
        state->buf[i] = s[i] ^ state->cbc[i];
    std::memcpy(state->cbc, in, 16);
    state->bufIdx = 0;

    if (last) {
        int pad = state->buf[15];
        // A pad count outside 1 to 16 is no padding of the format: the data
        // was not padded (or not encrypted), and the block is kept whole,
        // as for a count of 0.
        if (pad > 16)
            pad = 0;
        // The 16 - pad kept bytes end at the end of the buffer.
        std::memmove(state->buf + pad, state->buf, size_t(16 - pad));
        state->bufIdx = pad;
    }
}

}  // namespace rendova
