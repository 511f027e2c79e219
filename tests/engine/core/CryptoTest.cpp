#include "engine/core/Crypto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/engine/core/DocumentTestHelpers.h"

namespace rendova {
namespace {

using test::hexOf;

std::string unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string md5Hex(const std::string& text) {
    return hexOf(test::md5Of(text));
}

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, LengthsAroundTheBlockBoundary) {
    // 55 bytes leave room for the length in one block, 56 need a second.
    EXPECT_EQ(md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(md5Hex(std::string(63, 'a')), "b06521f39153d618550606be297466d5");
    EXPECT_EQ(md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
    EXPECT_EQ(md5Hex(std::string(65, 'a')), "c743a45e0d2e6a95cb859adae0248435");
    EXPECT_EQ(md5Hex(std::string(1000, 'a')), "cabe45dcc9ae5b66ba86600cca6b8ba8");
}

TEST(Md5, DigestMayOverwriteItsInput) {
    // Key derivation hashes a digest in place.
    unsigned char buffer[16];
    std::memcpy(buffer, "0123456789abcdef", 16);
    md5(buffer, 16, buffer);
    EXPECT_EQ(hexOf(std::string(reinterpret_cast<char*>(buffer), 16)), md5Hex("0123456789abcdef"));
}

TEST(Rc4, ClassicVectors) {
    EXPECT_EQ(hexOf(test::rc4With("Key", "Plaintext")), "bbf316e8d940af0ad3");
    EXPECT_EQ(hexOf(test::rc4With("Wiki", "pedia")), "1021bf0420");
    EXPECT_EQ(hexOf(test::rc4With("Secret", "Attack at dawn")), "45a01f645fc35b383552544b9bf5");
}

TEST(Rc4, DecryptionIsTheSameOperation) {
    const std::string text = "stream data of any length, odd or even.";
    EXPECT_EQ(test::rc4With("k3y", test::rc4With("k3y", text)), text);
}

TEST(Aes128, KeyExpansionOfFips197AppendixA1) {
    AesState state{};
    const std::string key = unhex("2b7e151628aed2a6abf7158809cf4f3c");
    aesExpandKey(&state, reinterpret_cast<const unsigned char*>(key.data()), 16);
    EXPECT_EQ(state.w[4], 0xa0fafe17u);
    EXPECT_EQ(state.w[43], 0xb6630ca6u);
}

TEST(Aes128, InverseCipherOfFips197AppendixC1) {
    AesState state{};
    const std::string key = unhex("000102030405060708090a0b0c0d0e0f");
    const std::string cipher = unhex("69c4e0d86a7b0430d8cdb78070b4c55a");
    aesExpandKey(&state, reinterpret_cast<const unsigned char*>(key.data()), 16);
    std::memset(state.cbc, 0, 16);
    aesDecryptBlock(&state, reinterpret_cast<const unsigned char*>(cipher.data()), false);
    EXPECT_EQ(state.bufIdx, 0);
    EXPECT_EQ(hexOf(std::string(reinterpret_cast<char*>(state.buf), 16)), "00112233445566778899aabbccddeeff");
    // The cipher block becomes the next chaining block.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(state.cbc), 16), cipher);
}

TEST(Aes128, ChainingXorsThePreviousCipherBlock) {
    const std::string key = "sixteen byte key";
    const std::string plain = "first block 16b.second block 16b";
    const std::string cipher = test::aesCbcCiphertext(key, plain);
    AesState state{};
    aesExpandKey(&state, reinterpret_cast<const unsigned char*>(key.data()), 16);
    std::memcpy(state.cbc, cipher.data(), 16);
    std::string out;
    for (size_t b = 1; b * 16 < cipher.size(); ++b) {
        aesDecryptBlock(&state, reinterpret_cast<const unsigned char*>(cipher.data() + b * 16), false);
        out.append(reinterpret_cast<char*>(state.buf), 16);
    }
    EXPECT_EQ(out, plain);
}

// The bytes that a last block with the given final byte delivers.
std::string lastBlockOutput(unsigned char padValue) {
    const std::string key = "0123456789abcdef";
    std::string plain = "ABCDEFGHIJKLMNO";
    plain += char(padValue);
    const std::string cipher = test::aesCbcCiphertext(key, plain);
    AesState state{};
    aesExpandKey(&state, reinterpret_cast<const unsigned char*>(key.data()), 16);
    std::memcpy(state.cbc, cipher.data(), 16);
    aesDecryptBlock(&state, reinterpret_cast<const unsigned char*>(cipher.data() + 16), true);
    return std::string(reinterpret_cast<char*>(state.buf) + state.bufIdx, size_t(16 - state.bufIdx));
}

TEST(Aes128, LastBlockLosesItsPadding) {
    EXPECT_EQ(lastBlockOutput(1), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(lastBlockOutput(4), "ABCDEFGHIJKL");
    EXPECT_EQ(lastBlockOutput(16), "");
    // 0 is no valid padding; nothing is removed.
    EXPECT_EQ(lastBlockOutput(0), std::string("ABCDEFGHIJKLMNO") + '\0');
}

TEST(Aes128, PaddingAboveSixteenRemovesNothing) {
    EXPECT_EQ(lastBlockOutput(17), std::string("ABCDEFGHIJKLMNO") + '\x11');
    EXPECT_EQ(lastBlockOutput(255), std::string("ABCDEFGHIJKLMNO") + '\xff');
}

TEST(Aes128, ShortKeyIsPaddedWithZeros) {
    AesState shortKey{}, fullKey{};
    aesExpandKey(&shortKey, reinterpret_cast<const unsigned char*>("abc"), 3);
    aesExpandKey(&fullKey, reinterpret_cast<const unsigned char*>("abc\0\0\0\0\0\0\0\0\0\0\0\0\0"), 16);
    EXPECT_EQ(std::memcmp(shortKey.w, fullKey.w, sizeof shortKey.w), 0);
}

}  // namespace
}  // namespace rendova
