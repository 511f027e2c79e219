#pragma once

// Helpers of the document tests: documents opened from bytes written to a
// file of the test output folder, and the encryption direction of the
// standard security handler's password algorithms, to make encrypted test
// files whose keys the tests know.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/core/Crypto.h"
#include "engine/core/DecryptStream.h"
#include "engine/core/DynString.h"
#include "engine/core/PdfDocument.h"

namespace rendova::test {

// A file named after the running test (tests run in parallel processes).
inline std::string testFilePath(const std::string& suffix = "") {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name() + suffix + ".pdf";
    for (char& c : name)
        if (c == '/')
            c = '_';
    return (std::filesystem::path(RENDOVA_TEST_OUTPUT_DIR) / "document" / name).string();
}

inline std::string writeTestFile(const std::string& bytes, const std::string& suffix = "") {
    const std::string path = testFilePath(suffix);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return path;
}

inline std::unique_ptr<PdfDocument> openPath(const std::string& path, const char* owner = nullptr,
                                             const char* user = nullptr) {
    DynString ownerPassword(owner ? owner : ""), userPassword(user ? user : "");
    return std::make_unique<PdfDocument>(std::make_unique<DynString>(path.c_str()),
                                         owner ? &ownerPassword : nullptr, user ? &userPassword : nullptr);
}

inline std::unique_ptr<PdfDocument> openBytes(const std::string& bytes, const char* owner = nullptr,
                                              const char* user = nullptr) {
    return openPath(writeTestFile(bytes), owner, user);
}

inline std::string hexOf(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

inline std::string md5Of(const std::string& bytes) {
    unsigned char digest[16];
    md5(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return std::string(reinterpret_cast<const char*>(digest), 16);
}

inline std::string rc4With(const std::string& key, const std::string& data) {
    unsigned char state[256];
    rc4InitKey(reinterpret_cast<const unsigned char*>(key.data()), int(key.size()), state);
    unsigned char x = 0, y = 0;
    std::string out = data;
    for (char& c : out)
        c = char(rc4NextByte(state, &x, &y, static_cast<unsigned char>(c)));
    return out;
}

inline const std::string& passwordPad() {
    static const std::string pad(
        "\x28\xbf\x4e\x5e\x4e\x75\x8a\x41\x64\x00\x4e\x56\xff\xfa\x01\x08"
        "\x2e\x2e\x00\xb6\xd0\x68\x3e\x80\x2f\x0c\xa9\xfe\x64\x53\x69\x7a",
        32);
    return pad;
}

inline std::string padded(const std::string& password) {
    return (password + passwordPad()).substr(0, 32);
}

// The parameters of a standard security handler and what they give: the O
// and U entries and the file key, computed by the format's encryption
// algorithms (the direction a writer runs).
struct Encryption {
    int revision = 3;
    int keyBytes = 16;
    std::string ownerPassword = "owner";
    std::string userPassword = "user";
    int permissions = -4;
    std::string fileId = "0123456789abcdef";
    bool encryptMetadata = true;

    std::string o, u, key;

    Encryption& make() {
        // O: the padded user password encrypted under the owner password's
        // key.
        std::string ownerKey = md5Of(padded(ownerPassword.empty() ? userPassword : ownerPassword));
        if (revision >= 3)
            for (int i = 0; i < 50; ++i)
                ownerKey = md5Of(ownerKey);
        ownerKey.resize(size_t(keyBytes));
        o = rc4With(ownerKey, padded(userPassword));
        if (revision >= 3)
            o = rc4Rounds(ownerKey, o);

        key = fileKey(userPassword);
        if (revision == 2) {
            u = rc4With(key, passwordPad());
        } else {
            u = rc4Rounds(key, rc4With(key, md5Of(passwordPad() + fileId)));
            u += std::string(16, '\0');
        }
        return *this;
    }

    std::string fileKey(const std::string& password) const {
        std::string material = padded(password) + o;
        for (int i = 0; i < 4; ++i)
            material += char(uint32_t(permissions) >> (8 * i));
        material += fileId;
        if (!encryptMetadata)
            material += std::string(4, '\xff');
        std::string k = md5Of(material);
        if (revision >= 3)
            for (int i = 0; i < 50; ++i)
                k = md5Of(k.substr(0, size_t(keyBytes)));
        return k.substr(0, size_t(keyBytes));
    }

    // Revision 3's nineteen further passes with the key XORed with 1 .. 19.
    static std::string rc4Rounds(const std::string& key, std::string data) {
        for (int i = 1; i <= 19; ++i) {
            std::string k = key;
            for (char& c : k)
                c = char(c ^ i);
            data = rc4With(k, data);
        }
        return data;
    }

    // The encryption dictionary for V (1, 2 or 4 with a crypt filter).
    std::string dict(int version, const std::string& extra = "") const {
        std::string text = "<< /Filter /Standard /V " + std::to_string(version) + " /R " +
                           std::to_string(revision) + " /O <" + hexOf(o) + "> /U <" + hexOf(u) + "> /P " +
                           std::to_string(permissions);
        if (version == 2)
            text += " /Length " + std::to_string(keyBytes * 8);
        return text + " " + extra + " >>";
    }

    // The trailer entries /Encrypt and /ID.
    std::string trailer(int encryptObject) const {
        return "/Encrypt " + std::to_string(encryptObject) + " 0 R /ID [<" + hexOf(fileId) + "> <" +
               hexOf(fileId) + ">]";
    }

    // Data of object num encrypted with RC4 (its own inverse).
    std::string rc4Object(const std::string& data, int num, int gen = 0) const {
        unsigned char objectKey[16];
        DecryptStream::makeObjectKey(reinterpret_cast<const unsigned char*>(key.data()), int(key.size()),
                                     kCryptRc4, num, gen, objectKey);
        return rc4With(
            std::string(reinterpret_cast<const char*>(objectKey), std::min(key.size() + 5, size_t(16))),
            data);
    }
};

// AES-128 CBC ciphertext of plaintext (a whole number of blocks) under key,
// made with the inverse cipher alone: working back from an arbitrary last
// cipher block, each earlier block is chosen so that it decrypts to the
// wanted text; the first block made this way is the initial chaining block.
inline std::string aesCbcCiphertext(const std::string& key, const std::string& plaintext) {
    AesState state{};
    aesExpandKey(&state, reinterpret_cast<const unsigned char*>(key.data()), int(key.size()));
    const size_t blocks = plaintext.size() / 16;
    std::string cipher((blocks + 1) * 16, '\0');
    for (size_t i = 0; i < 16; ++i)
        cipher[blocks * 16 + i] = char(0x5a ^ (i * 7));
    for (size_t b = blocks; b > 0; --b) {
        std::memset(state.cbc, 0, 16);
        aesDecryptBlock(&state, reinterpret_cast<const unsigned char*>(cipher.data() + b * 16), false);
        for (size_t i = 0; i < 16; ++i)
            cipher[(b - 1) * 16 + i] = char(state.buf[i] ^ plaintext[(b - 1) * 16 + i]);
    }
    return cipher;
}

}  // namespace rendova::test
