// The parts shared by simple and composite fonts: choosing the class by
// subtype, the font descriptor, ToUnicode streams and font files.
#include "engine/content/FontObject.h"

#include <algorithm>
#include <cstring>

#include "engine/content/CompositeFont.h"
#include "engine/content/SimpleFont.h"
#include "engine/core/CodeToUnicodeMap.h"
#include "engine/core/DataStream.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/Memory.h"
#include "engine/core/PdfValue.h"
#include "engine/core/XrefTable.h"

namespace rendova {

namespace {

// File name extensions tried in the settings' font folders.
const char* const kType1Extensions[] = {".pfa", ".pfb", ".ps", "", nullptr};
const char* const kTrueTypeExtensions[] = {".ttf", ".TTF", nullptr};

// The embedded file grows in steps of this many bytes while it is read.
constexpr int kReadStep = 4096;

// Up to n numbers of an array value into out, each times scale; other
// elements are skipped (their slot keeps its value).
void readNumbers(const PdfValue& array, double* out, int n, double scale) {
    if (!array.isArray())
        return;
    PdfArray* a = array.getArray();
    for (int i = 0; i < n && i < a->getLength(); ++i) {
        PdfValue v;
        a->get(i, v);
        if (v.isNum())
            out[i] = v.getNum() * scale;
    }
}

bool isCidFontType(int type) {
    return type >= kFontCidType0 && type <= kFontCidType2OT;
}

// The CID-keyed type of the same program kind.
int asCidFontType(int type) {
    switch (type) {
        case kFontType1:
            return kFontCidType0;
        case kFontType1C:
            return kFontCidType0C;
        case kFontType1COT:
            return kFontCidType0COT;
        case kFontTrueType:
            return kFontCidType2;
        case kFontTrueTypeOT:
            return kFontCidType2OT;
        default:
            return type;
    }
}

}  // namespace

std::unique_ptr<FontObject> FontObject::create(XrefTable* xref, const char* tag, int objectNumber,
                                               int generation, PdfDict* fontDict) {
    PdfValue baseFont, subtype;
    fontDict->lookup("BaseFont", baseFont);
    std::unique_ptr<DynString> name;
    if (baseFont.isName())
        name = std::make_unique<DynString>(baseFont.getName());
    fontDict->lookup("Subtype", subtype);

    int type = kFontUnknown;
    if (subtype.isName("Type1") || subtype.isName("MMType1")) {
        type = kFontType1;
    } else if (subtype.isName("Type1C")) {
        type = kFontType1C;
    } else if (subtype.isName("Type3")) {
        type = kFontType3;
    } else if (subtype.isName("TrueType")) {
        type = kFontTrueType;
    } else if (subtype.isName("Type0")) {
        return std::make_unique<CompositeFont>(xref, tag, objectNumber, generation, name.get(), fontDict);
    } else {
        reportError(-1, "Unknown font type: '%s'", subtype.isName() ? subtype.getName() : "???");
    }
    return std::make_unique<SimpleFont>(xref, tag, objectNumber, generation, name.get(), type, fontDict);
}

FontObject::FontObject(const char* tag, int objectNumber, int generation, const DynString* name, int fontType)
    : m_tag(tag), m_objectNumber(objectNumber), m_generation(generation), m_fontType(fontType) {
    if (name) {
        m_name = std::make_unique<DynString>(*name);
        m_givenName = std::make_unique<DynString>(*name);
    }
}

FontObject::~FontObject() = default;

// Which font-file entry holds the program decides (or corrects) the font
// type: a Type 1 program, a TrueType program, or a stream whose subtype tells
// the compact and OpenType forms apart.
void FontObject::readFontFileEntry(PdfDict* desc) {
    PdfValue v;
    if (desc->lookupRaw("FontFile", v).isRef()) {
        m_embeddedFileNumber = v.getRefNum();
        m_embeddedFileGeneration = v.getRefGen();
        if (m_fontType != kFontType1)
            reportError(-1, "Mismatch between font type and embedded font file");
        m_fontType = kFontType1;
    } else if (desc->lookupRaw("FontFile2", v).isRef()) {
        m_embeddedFileNumber = v.getRefNum();
        m_embeddedFileGeneration = v.getRefGen();
        if (m_fontType != kFontTrueType && m_fontType != kFontCidType2) {
            reportError(-1, "Mismatch between font type and embedded font file");
            m_fontType = m_fontType == kFontCidType0 ? kFontCidType2 : kFontTrueType;
        }
    } else if (desc->lookupRaw("FontFile3", v).isRef()) {
        m_embeddedFileNumber = v.getRefNum();
        m_embeddedFileGeneration = v.getRefGen();
        PdfValue file;
        desc->lookup("FontFile3", file);
        if (file.isStream()) {
            PdfValue sub;
            file.dictLookup("Subtype", sub);
            if (sub.isName("Type1")) {
                if (m_fontType != kFontType1)
                    reportError(-1, "Mismatch between font type and embedded font file");
                m_fontType = kFontType1;
            } else if (sub.isName("Type1C")) {
                if (m_fontType != kFontType1 && m_fontType != kFontType1C)
                    reportError(-1, "Mismatch between font type and embedded font file");
                m_fontType = kFontType1C;
            } else if (sub.isName("TrueType")) {
                if (m_fontType != kFontTrueType)
                    reportError(-1, "Mismatch between font type and embedded font file");
                m_fontType = kFontTrueType;
            } else if (sub.isName("CIDFontType0C")) {
                if (m_fontType != kFontCidType0)
                    reportError(-1, "Mismatch between font type and embedded font file");
                m_fontType = kFontCidType0C;
            } else if (sub.isName("OpenType")) {
                switch (m_fontType) {
                    case kFontTrueType:
                        m_fontType = kFontTrueTypeOT;
                        break;
                    case kFontType1:
                        m_fontType = kFontType1COT;
                        break;
                    case kFontCidType0:
                        m_fontType = kFontCidType0COT;
                        break;
                    case kFontCidType2:
                        m_fontType = kFontCidType2OT;
                        break;
                    default:
                        reportError(-1, "Mismatch between font type and embedded font file");
                        break;
                }
            } else {
                reportError(-1, "Unknown font type '%s'", sub.isName() ? sub.getName() : "???");
            }
        }
    }
}

void FontObject::readDescriptor(XrefTable* xref, PdfDict* dict) {
    (void)xref;
    m_flags = kFontFlagSerif;
    m_embeddedFileNumber = -1;
    m_embeddedFileGeneration = -1;
    m_missingWidth = 0;

    PdfValue descriptor;
    dict->lookup("FontDescriptor", descriptor);
    if (!descriptor.isDict())
        return;
    PdfDict* desc = descriptor.getDict();
    const bool composite = isCidFontType(m_fontType);

    PdfValue v;
    if (desc->lookup("Flags", v).isInt())
        m_flags = v.getInt();
    if (desc->lookup("FontName", v).isName())
        m_embeddedFontName = std::make_unique<DynString>(v.getName());

    readFontFileEntry(desc);

    // A CID font stays one whichever font-file entry holds its program: its
    // strings are CIDs, which a simple font's loader would send through a
    // 256-code encoding (every CID below 256 would become the missing
    // glyph). A bare Type 1 or CFF program is read with its glyph indices
    // as CIDs.
    if (composite)
        m_fontType = asCidFontType(m_fontType);

    if (desc->lookup("FontWeight", v).isNum())
        m_fontWeight = v.getNum();
    if (desc->lookup("MissingWidth", v).isNum())
        m_missingWidth = v.getNum();
    if (desc->lookup("Ascent", v).isNum() && v.getNum() != 0)
        m_ascent = v.getNum() * 0.001;
    if (desc->lookup("Descent", v).isNum() && v.getNum() != 0) {
        m_descent = v.getNum() * 0.001;
        // Some producers write the descent as a positive number.
        if (m_descent > 0)
            m_descent = -m_descent;
    }
    desc->lookup("FontBBox", v);
    readNumbers(v, m_boundingBox, 4, 0.001);
}

void FontObject::findExternalFile() {
    if (!m_name || !globalSettings)
        return;
    if (m_fontType == kFontType1) {
        m_externalFileName = globalSettings->findFontFile(m_name->getCString(), kType1Extensions);
    } else if (m_fontType == kFontTrueType) {
        m_externalFileName = globalSettings->findFontFile(m_name->getCString(), kTrueTypeExtensions);
    }
}

RefPtr<CodeToUnicodeMap> FontObject::readToUnicode(PdfDict* fontDict, int codeBits,
                                                   RefPtr<CodeToUnicodeMap> existing) {
    PdfValue stream;
    fontDict->lookup("ToUnicode", stream);
    if (!stream.isStream())
        return existing;
    DataStream* s = stream.getStream();
    DynString text;
    s->reset();
    for (int c; (c = s->getChar()) != -1;)
        text.appendChar(static_cast<char>(c));
    s->close();
    if (existing) {
        existing->mergeCMap(text, codeBits);
        return existing;
    }
    return CodeToUnicodeMap::parseCMap(text, codeBits);
}

char* FontObject::readEmbeddedFile(XrefTable* xref, int* length) {
    *length = 0;
    PdfValue file;
    PdfValue ref;
    ref.initRef(m_embeddedFileNumber, m_embeddedFileGeneration);
    ref.fetch(xref, file);
    if (!file.isStream()) {
        reportError(-1, "Embedded font file is not a stream");
        m_embeddedFileNumber = -1;
        m_embeddedFileGeneration = -1;
        return nullptr;
    }
    DataStream* s = file.getStream();
    SourceStream* source = s->getSourceStream();
    const uint32_t start = source ? source->getStart() : 0;
    if (source) {
        if (const std::vector<uint8_t>* kept =
                xref->findDecodedStream(m_embeddedFileNumber, m_embeddedFileGeneration, start)) {
            auto* copy = static_cast<char*>(memAlloc(kept->empty() ? 1 : static_cast<int>(kept->size())));
            if (!kept->empty())
                std::memcpy(copy, kept->data(), kept->size());
            *length = static_cast<int>(kept->size());
            return copy;
        }
    }
    const uint64_t reportsBefore = errorReportCount();
    char* buffer = nullptr;
    int size = 0;
    int n = 0;
    s->reset();
    // In blocks into a buffer that doubles: a byte at a time through the
    // decoders, and a buffer grown by a fixed step, made a large font cost
    // more than the pages that use it.
    for (;;) {
        if (n == size) {
            uint8_t probe;
            if (size >= kMaxEmbeddedFileSize) {
                if (s->getBlock(&probe, 1) == 1)
                    reportError(-1, "Embedded font file is too large");
                break;
            }
            size = size == 0 ? kReadStep : std::min(kMaxEmbeddedFileSize, checkedMul(size, 2));
            buffer = static_cast<char*>(memRealloc(buffer, size));
        }
        const int got = s->getBlock(reinterpret_cast<uint8_t*>(buffer) + n, size - n);
        if (got <= 0)
            break;
        n += got;
    }
    s->close();
    *length = n;
    if (!buffer)
        buffer = static_cast<char*>(memAlloc(1));
    // The fonts of every page that uses the file read it again.
    if (source && errorReportCount() == reportsBefore)
        xref->keepDecodedStream(m_embeddedFileNumber, m_embeddedFileGeneration, start,
                                reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(n));
    return buffer;
}

}  // namespace rendova
