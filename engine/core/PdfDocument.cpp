#include "engine/core/PdfDocument.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "engine/core/DecryptStream.h"
#include "engine/core/DocumentCatalog.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/FileSource.h"
#include "engine/core/Outline.h"
#include "engine/core/SecurityHandler.h"
#include "engine/core/XrefTable.h"

namespace rendova {

namespace {

constexpr char kHeaderMarker[] = "%PDF-";
constexpr int kHeaderMarkerLength = 5;
// The characters that end the version number after the marker.
constexpr char kVersionDelimiters[] = " \t\r\n";
// Bytes past the end of a short file read as this value while the header is
// searched for (never part of the marker or of a version number).
constexpr unsigned char kPastEndByte = 0xff;

}  // namespace

PdfDocument::PdfDocument(std::unique_ptr<DynString> fileName, const DynString* ownerPassword,
                         const DynString* userPassword, void* userData)
    : m_fileName(std::move(fileName)), m_userData(userData) {
    // The name as given, then with the file name all lower case, then all
    // upper case: names typed in another case than the file's on a
    // case-sensitive system. The folders keep their case, which the typed
    // name had to get right to reach the file at all.
    m_file = std::fopen(m_fileName->getCString(), "rb");
    if (!m_file) {
        const char* whole = m_fileName->getCString();
        const char* slash = std::strrchr(whole, '/');
        const int folderLength = slash ? int(slash - whole) + 1 : 0;
        DynString base(whole + folderLength, m_fileName->getLength() - folderLength);
        for (int attempt = 0; attempt < 2 && !m_file; ++attempt) {
            DynString other(whole, folderLength);
            other.append(attempt == 0 ? base.toLower() : base.toUpper());
            m_file = std::fopen(other.getCString(), "rb");
        }
    }
    if (!m_file) {
        reportError(-1, "Couldn't open file '%s'", m_fileName->getCString());
        m_errorCode = kErrorOpenFile;
        return;
    }
    PdfValue noDict;
    noDict.initNull();
    m_source = RefPtr<SourceStream>::adopt(new FileSource(m_file, 0, false, 0, std::move(noDict)));
    m_ok = setup(ownerPassword, userPassword);
}

PdfDocument::~PdfDocument() {
    m_outline.reset();
    m_catalog.reset();
    m_xref.reset();
    m_source.reset();
    if (m_file)
        std::fclose(m_file);
    m_fileName.reset();
}

bool PdfDocument::setup(const DynString* ownerPassword, const DynString* userPassword) {
    m_source->reset();
    checkHeader();

    m_xref = std::make_unique<XrefTable>(m_source.get());
    if (!m_xref->isOk()) {
        reportError(-1, "Couldn't read the cross-reference table");
        m_errorCode = m_xref->getErrorCode();
        return false;
    }

    if (!checkEncryption(ownerPassword, userPassword)) {
        m_errorCode = kErrorEncrypted;
        return false;
    }

    m_catalog = std::make_unique<DocumentCatalog>(m_xref.get());
    if (!m_catalog->isOk()) {
        reportError(-1, "Couldn't read the page catalog");
        m_errorCode = kErrorDamaged;
        return false;
    }

    m_outline = std::make_unique<Outline>(m_catalog->getOutlines(), m_xref.get());
    return true;
}

void PdfDocument::checkHeader() {
    // One byte more than is read, always NUL: the string routines below
    // stop there whatever the file holds.
    char header[kHeaderSearchSize + 1];
    for (int i = 0; i < kHeaderSearchSize; ++i) {
        const int c = m_source->getChar();
        header[i] = static_cast<char>(c == -1 ? kPastEndByte : c);
    }
    header[kHeaderSearchSize] = '\0';

    int marker = -1;
    for (int i = 0; i < kHeaderSearchSize - kHeaderMarkerLength; ++i) {
        if (std::memcmp(header + i, kHeaderMarker, kHeaderMarkerLength) == 0) {
            marker = i;
            break;
        }
    }
    if (marker < 0) {
        reportError(-1, "May not be a PDF file (continuing anyway)");
        return;
    }
    // Every offset of the file counts from the marker.
    if (marker > 0)
        m_source->shiftStart(marker);

    char* save = nullptr;
    const char* token = strtok_r(header + marker + kHeaderMarkerLength, kVersionDelimiters, &save);
    if (!token) {
        reportError(-1, "May not be a PDF file (continuing anyway)");
        return;
    }
    // A decimal number in the C locale's form; a token that is not one
    // leaves the version at 0.
    double version = 0;
    std::from_chars(token, token + std::strlen(token), version);
    m_version = version;
}

bool PdfDocument::checkEncryption(const DynString* ownerPassword, const DynString* userPassword) {
    PdfValue encrypt;
    m_xref->getTrailer().dictLookup("Encrypt", encrypt);
    if (!encrypt.isDict())
        return true;

    std::unique_ptr<SecurityHandler> handler = SecurityHandler::create(this, encrypt);
    if (!handler)
        return false;
    if (!handler->checkEncryption(ownerPassword, userPassword))
        return false;
    m_xref->setEncryption(handler->getPermissionFlags(), handler->isOwnerPasswordOk(), handler->getFileKey(),
                          handler->getFileKeyLength(), handler->getEncryptionVersion(),
                          handler->getEncryptionAlgorithm());
    m_xref->setDecryptor(std::make_unique<FileKeyDecryptor>(
        handler->getFileKey(), handler->getFileKeyLength(), handler->getEncryptionAlgorithm()));
    return true;
}

int PdfDocument::getPageCount() const {
    if (!m_catalog)
        return 0;
    return std::max(m_catalog->getPageCount(), 0);
}

Page* PdfDocument::getPage(int n) const {
    return m_catalog->getPage(n);
}

int PdfDocument::getPermissions() const {
    return m_xref ? m_xref->getPermissions() : 0xfffc;
}

}  // namespace rendova
