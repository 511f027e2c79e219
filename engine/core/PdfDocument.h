#pragma once

#include <cstdio>
#include <memory>

#include "engine/core/DynString.h"
#include "engine/core/Page.h"
#include "engine/core/RefCounted.h"

namespace rendova {

class DocumentCatalog;
class Outline;
class OutputDevice;
class SourceStream;
class XrefTable;

// One open PDF file: the header check, the cross-reference table, the
// security handler's authorisation, the catalog with its pages, and the
// outline. Construction does all the work; the result is judged by isOk()
// and getErrorCode().
//
// Ownership: the document owns its file name, the open file, the file
// source, the table, the catalog and the outline, and deletes them in the
// reverse order of their making. One thread at a time. Throws
// MemoryException when memory runs out (only the exported functions catch
// it); every defect of the file is reported and either tolerated or turned
// into an error code.
class PdfDocument {
public:
    // The error codes of an unusable document.
    enum ErrorCode : int {
        kErrorNone = 0,
        // The file could not be opened under any of the three names.
        kErrorOpenFile = 1,
        // The catalog, the page count or the page tree could not be read.
        kErrorDamaged = 2,
        // No cross-reference table, even after the repair scan.
        kErrorBadXref = 3,
        // Encrypted, and neither password was accepted (or the security
        // handler is unknown or unsupported).
        kErrorEncrypted = 4,
    };

    // The header marker is searched for in this many bytes at the start of
    // the file.
    static constexpr int kHeaderSearchSize = 1024;

    // Takes over fileName. The passwords (either may be null) are read during
    // construction, not kept.
    PdfDocument(std::unique_ptr<DynString> fileName, const DynString* ownerPassword,
                const DynString* userPassword, void* userData = nullptr);
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    bool isOk() const { return m_ok; }
    int getErrorCode() const { return m_errorCode; }
    const DynString* getFileName() const { return m_fileName.get(); }
    void* getUserData() const { return m_userData; }
    // The header version, 0 when no header was found.
    double getVersion() const { return m_version; }
    XrefTable* getXref() const { return m_xref.get(); }
    DocumentCatalog* getCatalog() const { return m_catalog.get(); }
    Outline* getOutline() const { return m_outline.get(); }
    // The number of pages (0 without a catalog).
    int getPageCount() const;
    // Page n, 1-based, in 1 .. getPageCount().
    Page* getPage(int n) const;
    // The permission flags of the encryption dictionary (0xfffc when the
    // document is not encrypted).
    int getPermissions() const;

    // Draws page n (1-based, in 1 .. getPageCount(); not checked) on the
    // device through Page::display, with its answer (true when nothing was
    // drawn). Like Page::display it runs the content interpreter, so it is
    // defined with it in the content layer.
    bool displayPage(OutputDevice* device, int page, double hDpi, double vDpi, int rotate, bool useMediaBox,
                     bool crop, bool printing, AbortCheck abortCheck = nullptr, void* abortData = nullptr);

private:
    bool setup(const DynString* ownerPassword, const DynString* userPassword);
    // Reads the version from the header; moves the source's start to the
    // header marker.
    void checkHeader();
    bool checkEncryption(const DynString* ownerPassword, const DynString* userPassword);

    std::unique_ptr<DynString> m_fileName;
    std::FILE* m_file = nullptr;
    RefPtr<SourceStream> m_source;
    void* m_userData;
    double m_version = 0;
    std::unique_ptr<XrefTable> m_xref;
    std::unique_ptr<DocumentCatalog> m_catalog;
    std::unique_ptr<Outline> m_outline;
    bool m_ok = false;
    int m_errorCode = kErrorNone;
};

}  // namespace rendova
