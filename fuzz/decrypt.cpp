// Decryption: the password algorithms of the standard security handler, the
// decrypting stream (RC4 and AES-128, with any key length, damaged padding
// and partial blocks), and the handler reached through a document whose
// encryption dictionary the input fills in.
//
// Layout: byte 0 options (bit 0 AES, bits 1-5 the key length as given, 0 to
// 31, bit 6 the document route, bit 7 encryptMetadata), bytes 1-16 the file
// key, 17-19 object number and generation, 20-22 V, R and the key length in
// bytes of the password algorithms; then O and U (32 bytes each), P (4), the
// file ID and the password (a length byte each), and the rest is the data.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/DecryptStream.h"
#include "engine/core/DynString.h"
#include "engine/core/Memory.h"
#include "engine/core/MemorySource.h"
#include "engine/core/Page.h"
#include "engine/core/PdfDocument.h"
#include "engine/core/SecurityHandler.h"
#include "engine/core/XrefTable.h"

using namespace rendova;

namespace {

constexpr size_t kHeaderSize = 23;
constexpr size_t kMaxData = 1 << 16;

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    std::string take(size_t n) {
        n = std::min(n, size - at);
        std::string out(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return out;
    }
    int byte() { return at < size ? data[at++] : 0; }
};

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// Reads the stream to its end twice (peekChar checked against getChar); the
// second reading must repeat the first.
void readTwice(DataStream* stream) {
    std::string first;
    stream->reset();
    for (int c; first.size() < kMaxData && (c = stream->peekChar()) != -1; first += char(c)) {
        if (stream->getChar() != c)
            __builtin_trap();
    }
    stream->reset();
    for (char c : first) {
        if (stream->getChar() != static_cast<unsigned char>(c))
            __builtin_trap();
    }
    stream->close();
}

// A one-page document whose content stream holds the data, encrypted by the
// dictionary the input describes; offsets are exact so that the table reads.
std::string document(int version, int revision, int lengthBits, bool aes, const std::string& o,
                     const std::string& u, int32_t p, const std::string& id, const std::string& data) {
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    auto object = [&](const std::string& body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] /Contents 4 0 R >>");
    object("<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream");
    object("<< /Filter /Standard /V " + std::to_string(version) + " /R " + std::to_string(revision) +
           " /Length " + std::to_string(lengthBits) + " /O <" + hex(o) + "> /U <" + hex(u) + "> /P " +
           std::to_string(p) + " /CF << /StdCF << /CFM /" + (aes ? "AESV2" : "V2") +
           " >> >> /StmF /StdCF /StrF /StdCF >>");
    const size_t xref = pdf.size();
    pdf += "xref\n0 6\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size 6 /Root 1 0 R /Encrypt 5 0 R /ID [<" + hex(id) + "> <" + hex(id) +
           ">] >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

void openDocument(const std::string& pdf, const DynString& password) {
    const int fd = memfd_create("decrypt", 0);
    if (fd < 0)
        return;
    if (write(fd, pdf.data(), pdf.size()) == ssize_t(pdf.size())) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        PdfDocument doc(std::make_unique<DynString>(path.c_str()), &password, &password);
        if (doc.isOk() && doc.getPageCount() > 0) {
            PdfValue contents;
            doc.getPage(1)->getContents().fetch(doc.getXref(), contents);
            if (contents.isStream())
                readTwice(contents.getStream());
        }
    }
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderSize)
        return 0;
    Reader in{data, size};
    const int options = in.byte();
    const bool aes = options & 1;
    const int keyLength = (options >> 1) & 31;
    const bool viaDocument = options & 64;
    const bool encryptMetadata = options & 128;
    const std::string fileKey = in.take(16);
    const int num = in.byte() << 8 | in.byte();
    const int gen = in.byte();
    const int version = in.byte() % 6;
    const int revision = in.byte() % 7;
    const int n = in.byte();
    const std::string o = in.take(32), u = in.take(32), pBytes = in.take(4);
    int32_t p = 0;
    for (unsigned char c : pBytes)
        p = int32_t(uint32_t(p) << 8 | c);
    const std::string id = in.take(size_t(in.byte()));
    const DynString password(in.take(size_t(in.byte()) % 33).c_str());
    const std::string rest = in.take(kMaxData);

    try {
        // The password algorithms take the key length in bytes, 1 to 16.
        unsigned char key[16];
        bool ownerOk = false;
        const DynString ownerKey(o.data(), int(o.size())), userKey(u.data(), int(u.size()));
        const DynString fileId(id.data(), int(id.size()));
        makeFileKey(version, revision, 1 + n % 16, ownerKey, userKey, p, fileId, &password, &password, key,
                    encryptMetadata, &ownerOk);

        PdfValue noDict;
        noDict.initNull();
        RefPtr<DataStream> source = RefPtr<DataStream>::adopt(
            new MemorySource(rest.data(), 0, uint32_t(rest.size()), std::move(noDict)));
        const auto* keyBytes = reinterpret_cast<const unsigned char*>(fileKey.data());
        RefPtr<DataStream> decrypted = RefPtr<DataStream>::adopt(
            new DecryptStream(source, keyBytes, aes ? kCryptAes128 : kCryptRc4, keyLength, num, gen));
        readTwice(decrypted.get());
        FileKeyDecryptor decryptor(keyBytes, std::clamp(keyLength, 1, 16), aes ? kCryptAes128 : kCryptRc4);
        readTwice(decryptor.decryptStream(source, num, gen).get());

        if (viaDocument)
            openDocument(document(version, revision, n * 8, aes, o, u, p, id, rest), password);
    } catch (const MemoryException&) {
        // Memory exhaustion is the one failure that may end the work.
    }
    return 0;
}
