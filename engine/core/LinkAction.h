#pragma once

#include <memory>

#include "engine/core/DynString.h"
#include "engine/core/PdfValue.h"

namespace rendova {

// A destination inside a document: a page (by object reference or by
// number) and how to show it. Malformed arrays are reported and leave the
// destination not ok. One thread at a time; throws MemoryException only.
class LinkDestination {
public:
    // The destination types of the PDF format.
    enum Kind : int {
        kXyz = 0,
        kFit = 1,
        kFitH = 2,
        kFitV = 3,
        kFitR = 4,
        kFitB = 5,
        kFitBH = 6,
        kFitBV = 7
    };

    explicit LinkDestination(const PdfArray* array);
    LinkDestination(const LinkDestination&) = default;

    bool isOk() const { return m_ok; }
    int getKind() const { return m_kind; }
    bool isPageRef() const { return m_pageIsRef; }
    // The 1-based page number when the page is not a reference.
    int getPageNum() const { return m_pageNum; }
    int getPageRefNum() const { return m_pageRefNum; }
    int getPageRefGen() const { return m_pageRefGen; }
    double getLeft() const { return m_left; }
    double getBottom() const { return m_bottom; }
    double getRight() const { return m_right; }
    double getTop() const { return m_top; }
    double getZoom() const { return m_zoom; }
    // For XYZ: whether the value is given rather than null.
    bool getChangeLeft() const { return m_changeLeft; }
    bool getChangeTop() const { return m_changeTop; }
    bool getChangeZoom() const { return m_changeZoom; }

private:
    int m_kind = kFit;
    bool m_pageIsRef = false;
    int m_pageNum = 0;
    int m_pageRefNum = -1;
    int m_pageRefGen = -1;
    double m_left = 0;
    double m_bottom = 0;
    double m_right = 0;
    double m_top = 0;
    double m_zoom = 0;
    bool m_changeLeft = false;
    bool m_changeTop = false;
    bool m_changeZoom = false;
    bool m_ok = false;
};

// What an outline item or a link annotation does. The conversion draws pages
// only, so actions are built and kept, never followed. Made by create or
// createFromDest and owned by the caller. One thread at a time; throws
// MemoryException only.
class LinkAction {
public:
    enum Kind : int { kGoTo = 0, kGoToR = 1, kLaunch = 2, kUri = 3, kNamed = 4, kMovie = 5, kUnknown = 6 };

    virtual ~LinkAction() = default;
    virtual bool isOk() const = 0;
    virtual int getKind() const = 0;

    // The action of an action dictionary, or null when the value is not a
    // dictionary, its S is not a name, or the action is not ok. A relative
    // URI is joined to baseUri when that is given and not empty.
    static std::unique_ptr<LinkAction> create(const PdfValue& action, const DynString* baseUri);
    // A GoTo action to a destination (an array, or a name or string naming
    // one), or null when it is not ok.
    static std::unique_ptr<LinkAction> createFromDest(const PdfValue& dest);
};

// A destination given as an array, or named by a name or string. Shared by
// the GoTo and GoToR actions.
struct LinkTarget {
    std::unique_ptr<LinkDestination> dest;
    std::unique_ptr<DynString> namedDest;
    // Reads a destination value: a name or string names one, an array is
    // one (dropped when not ok); any other kind is reported.
    void read(const PdfValue& value);
    bool isSet() const { return dest || namedDest; }
};

class LinkGoTo : public LinkAction {
public:
    explicit LinkGoTo(const PdfValue& dest) { m_target.read(dest); }
    bool isOk() const override { return m_target.isSet(); }
    int getKind() const override { return kGoTo; }
    const LinkDestination* getDest() const { return m_target.dest.get(); }
    const DynString* getNamedDest() const { return m_target.namedDest.get(); }

private:
    LinkTarget m_target;
};

class LinkGoToR : public LinkAction {
public:
    LinkGoToR(const PdfValue& fileSpec, const PdfValue& dest);
    bool isOk() const override { return m_fileName && m_target.isSet(); }
    int getKind() const override { return kGoToR; }
    const DynString* getFileName() const { return m_fileName.get(); }
    const LinkDestination* getDest() const { return m_target.dest.get(); }
    const DynString* getNamedDest() const { return m_target.namedDest.get(); }

private:
    std::unique_ptr<DynString> m_fileName;
    LinkTarget m_target;
};

class LinkLaunch : public LinkAction {
public:
    explicit LinkLaunch(const PdfValue& action);
    bool isOk() const override { return m_fileName != nullptr; }
    int getKind() const override { return kLaunch; }
    const DynString* getFileName() const { return m_fileName.get(); }
    const DynString* getParams() const { return m_params.get(); }

private:
    std::unique_ptr<DynString> m_fileName;
    std::unique_ptr<DynString> m_params;
};

class LinkUri : public LinkAction {
public:
    LinkUri(const PdfValue& uri, const DynString* baseUri);
    bool isOk() const override { return m_uri != nullptr; }
    int getKind() const override { return kUri; }
    const DynString* getUri() const { return m_uri.get(); }

private:
    std::unique_ptr<DynString> m_uri;
};

class LinkNamed : public LinkAction {
public:
    explicit LinkNamed(const PdfValue& name);
    bool isOk() const override { return m_name != nullptr; }
    int getKind() const override { return kNamed; }
    const DynString* getName() const { return m_name.get(); }

private:
    std::unique_ptr<DynString> m_name;
};

class LinkMovie : public LinkAction {
public:
    LinkMovie(const PdfValue& annotRef, const PdfValue& title);
    bool isOk() const override { return m_annotRefNum >= 0 || m_title; }
    int getKind() const override { return kMovie; }
    // The annotation's object number, -1 when there is none.
    int getAnnotRefNum() const { return m_annotRefNum; }
    int getAnnotRefGen() const { return m_annotRefGen; }
    const DynString* getTitle() const { return m_title.get(); }

private:
    int m_annotRefNum = -1;
    int m_annotRefGen = -1;
    std::unique_ptr<DynString> m_title;
};

class LinkUnknown : public LinkAction {
public:
    explicit LinkUnknown(const char* actionName) : m_action(std::make_unique<DynString>(actionName)) {}
    bool isOk() const override { return m_action != nullptr; }
    int getKind() const override { return kUnknown; }
    const DynString* getAction() const { return m_action.get(); }

private:
    std::unique_ptr<DynString> m_action;
};

// The file name of a file spec entry (a string, or a dictionary's Unix
// or F string) as a path of this platform; null (reported) for any other
// value.
std::unique_ptr<DynString> getFileSpecName(const PdfValue& fileSpec);

}  // namespace rendova
