#include "engine/core/LinkAction.h"

#include <cstdint>
#include <cstring>

#include "engine/core/ErrorReport.h"

namespace rendova {

namespace {

// The destination types, in the order of LinkDestination::Kind.
constexpr const char* kDestKindNames[] = {"XYZ", "Fit", "FitH", "FitV", "FitR", "FitB", "FitBH", "FitBV"};

// The number of elements each destination type needs: the page, the type
// and its operands (XYZ's operands may be left out).
constexpr int kDestMinLength[] = {2, 2, 3, 3, 6, 2, 3, 3};

// Characters that end the relative part of a URI: a slash before any colon
// (or neither) means the URI names no scheme and is relative to the base.
constexpr const char* kUriSeparators = "/:";

std::unique_ptr<DynString> stringCopy(const PdfValue& value) {
    if (value.isString())
        return std::make_unique<DynString>(*value.getString());
    return nullptr;
}

}  // namespace

// ---- LinkDestination ------------------------------------------------------

LinkDestination::LinkDestination(const PdfArray* array) {
    if (array->getLength() < 2) {
        reportError(-1, "Link destination array is too short");
        return;
    }
    PdfValue page;
    array->getRaw(0, page);
    if (page.isInt()) {
        m_pageNum = page.getInt() < INT32_MAX ? page.getInt() + 1 : INT32_MAX;
    } else if (page.isRef()) {
        m_pageIsRef = true;
        m_pageRefNum = page.getRefNum();
        m_pageRefGen = page.getRefGen();
    } else {
        reportError(-1, "Bad page in a link destination (%s)", page.typeName());
        return;
    }

    PdfValue kindName;
    array->get(1, kindName);
    int kind = -1;
    if (kindName.isName())
        for (int k = 0; k < 8; ++k)
            if (std::strcmp(kindName.getName(), kDestKindNames[k]) == 0)
                kind = k;
    if (kind < 0 || array->getLength() < kDestMinLength[kind]) {
        reportError(-1, "Bad link destination type or too few operands");
        return;
    }
    m_kind = kind;

    // An operand that is not a number is reported; the coordinate stays 0.
    auto operand = [&](int i, double* out) {
        PdfValue v;
        array->get(i, v);
        if (v.isNum())
            *out = v.getNum();
        else
            reportError(-1, "Bad operand of a %s link destination (%s)", kDestKindNames[m_kind],
                        v.typeName());
    };

    switch (kind) {
        case kXyz: {
            double* values[3] = {&m_left, &m_top, &m_zoom};
            bool* changes[3] = {&m_changeLeft, &m_changeTop, &m_changeZoom};
            for (int i = 0; i < 3 && 2 + i < array->getLength(); ++i) {
                PdfValue v;
                array->get(2 + i, v);
                if (v.isNum()) {
                    *values[i] = v.getNum();
                    *changes[i] = true;
                } else if (!v.isNull()) {
                    reportError(-1, "Bad operand of an XYZ link destination (%s)", v.typeName());
                    return;
                }
            }
            break;
        }
        case kFitH:
        case kFitBH:
            operand(2, &m_top);
            break;
        case kFitV:
        case kFitBV:
            operand(2, &m_left);
            break;
        case kFitR:
            operand(2, &m_left);
            operand(3, &m_bottom);
            operand(4, &m_right);
            operand(5, &m_top);
            break;
        default:
            break;
    }
    m_ok = true;
}

// ---- LinkAction -----------------------------------------------------------

void LinkTarget::read(const PdfValue& value) {
    if (value.isName()) {
        namedDest = std::make_unique<DynString>(value.getName());
    } else if (value.isString()) {
        namedDest = std::make_unique<DynString>(*value.getString());
    } else if (value.isArray()) {
        auto d = std::make_unique<LinkDestination>(value.getArray());
        if (d->isOk())
            dest = std::move(d);
    } else {
        reportError(-1, "Illegal link destination (%s)", value.typeName());
    }
}

std::unique_ptr<LinkAction> LinkAction::create(const PdfValue& action, const DynString* baseUri) {
    if (!action.isDict())
        return nullptr;
    PdfValue kind;
    action.dictLookup("S", kind);
    if (!kind.isName()) {
        reportError(-1, "Bad annotation action");
        return nullptr;
    }
    std::unique_ptr<LinkAction> result;
    if (kind.isName("GoTo")) {
        PdfValue dest;
        action.dictLookup("D", dest);
        result = std::make_unique<LinkGoTo>(dest);
    } else if (kind.isName("GoToR")) {
        PdfValue file, dest;
        action.dictLookup("F", file);
        action.dictLookup("D", dest);
        result = std::make_unique<LinkGoToR>(file, dest);
    } else if (kind.isName("Launch")) {
        result = std::make_unique<LinkLaunch>(action);
    } else if (kind.isName("URI")) {
        PdfValue uri;
        action.dictLookup("URI", uri);
        result = std::make_unique<LinkUri>(uri, baseUri);
    } else if (kind.isName("Named")) {
        PdfValue name;
        action.dictLookup("N", name);
        result = std::make_unique<LinkNamed>(name);
    } else if (kind.isName("Movie")) {
        PdfValue annot, title;
        action.dictLookupRaw("Annot", annot);
        action.dictLookup("T", title);
        result = std::make_unique<LinkMovie>(annot, title);
    } else {
        result = std::make_unique<LinkUnknown>(kind.getName());
    }
    if (!result->isOk())
        return nullptr;
    return result;
}

std::unique_ptr<LinkAction> LinkAction::createFromDest(const PdfValue& dest) {
    auto action = std::make_unique<LinkGoTo>(dest);
    if (!action->isOk())
        return nullptr;
    return action;
}

LinkGoToR::LinkGoToR(const PdfValue& fileSpec, const PdfValue& dest) : m_fileName(getFileSpecName(fileSpec)) {
    m_target.read(dest);
}

LinkLaunch::LinkLaunch(const PdfValue& action) {
    PdfValue file;
    action.dictLookup("F", file);
    if (!file.isNull()) {
        m_fileName = getFileSpecName(file);
        return;
    }
    PdfValue win;
    action.dictLookup("Win", win);
    if (win.isDict()) {
        PdfValue winFile, params;
        win.dictLookup("F", winFile);
        m_fileName = getFileSpecName(winFile);
        win.dictLookup("P", params);
        m_params = stringCopy(params);
    } else {
        reportError(-1, "Bad launch-type link action");
    }
}

LinkUri::LinkUri(const PdfValue& uri, const DynString* baseUri) {
    if (!uri.isString()) {
        reportError(-1, "Illegal URI-type link");
        return;
    }
    const DynString* text = uri.getString();
    if (!baseUri || baseUri->getLength() == 0) {
        m_uri = std::make_unique<DynString>(*text);
        return;
    }
    // Relative when no separator occurs or the first one is the slash.
    const char* s = text->getCString();
    int first = -1;
    for (int i = 0; i < text->getLength(); ++i) {
        if (s[i] != '\0' && std::strchr(kUriSeparators, s[i])) {
            first = i;
            break;
        }
    }
    if (first >= 0 && s[first] != '/') {
        m_uri = std::make_unique<DynString>(*text);
        return;
    }
    m_uri = std::make_unique<DynString>(*baseUri);
    const char last = baseUri->getChar(baseUri->getLength() - 1);
    const bool startsWithSlash = text->getLength() > 0 && s[0] == '/';
    if (last == '/' || last == '?') {
        if (startsWithSlash)
            m_uri->appendBytes(s + 1, text->getLength() - 1);
        else
            m_uri->append(*text);
    } else {
        if (!startsWithSlash)
            m_uri->appendChar('/');
        m_uri->append(*text);
    }
}

LinkNamed::LinkNamed(const PdfValue& name) {
    if (name.isName())
        m_name = std::make_unique<DynString>(name.getName());
}

LinkMovie::LinkMovie(const PdfValue& annotRef, const PdfValue& title) : m_title(stringCopy(title)) {
    if (annotRef.isRef()) {
        m_annotRefNum = annotRef.getRefNum();
        m_annotRefGen = annotRef.getRefGen();
    }
}

// ---- file spec entries -----------------------------------------------------

std::unique_ptr<DynString> getFileSpecName(const PdfValue& fileSpec) {
    std::unique_ptr<DynString> name;
    if (fileSpec.isString()) {
        name = std::make_unique<DynString>(*fileSpec.getString());
    } else if (fileSpec.isDict()) {
        // The platform's own name first (on this platform the format's Unix
        // entry), else the portable F.
        PdfValue platformName;
        fileSpec.dictLookup("Unix", platformName);
        if (platformName.isString()) {
            name = std::make_unique<DynString>(*platformName.getString());
        } else {
            PdfValue portable;
            fileSpec.dictLookup("F", portable);
            if (portable.isString())
                name = std::make_unique<DynString>(*portable.getString());
        }
        if (!name)
            reportError(-1, "Illegal file spec in link");
        if (!name)
            return nullptr;
    } else {
        reportError(-1, "Illegal file spec in link");
        return nullptr;
    }

    // The format's portable names already use the slash as separator and
    // need no drive or network translation here; a backslash escaping a
    // slash is dropped and the slash kept.
    auto path = std::make_unique<DynString>();
    const char* s = name->getCString();
    const int n = name->getLength();
    for (int i = 0; i < n; ++i) {
        if (s[i] == '\\' && i + 1 < n && s[i + 1] == '/')
            continue;
        path->appendChar(s[i]);
    }
    return path;
}

}  // namespace rendova
