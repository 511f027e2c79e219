#include "engine/core/LinkAction.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/core/Tokenizer.h"
#include "engine/core/ValueParser.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;

PdfValue parse(const std::string& text) {
    RefPtr<DataStream> stream = test::memoryStream(text);
    ValueParser parser(nullptr, std::make_unique<Tokenizer>(nullptr, stream.get()), false);
    PdfValue value;
    parser.getValue(value);
    return value;
}

LinkDestination dest(const std::string& text) {
    return LinkDestination(parse(text).getArray());
}

std::string str(const DynString* s) {
    return s ? std::string(s->getCString(), size_t(s->getLength())) : "(null)";
}

// ---- destinations ---------------------------------------------------------

TEST(LinkDestination, XyzWithNullOperandsLeavesThemUnchanged) {
    LinkDestination d = dest("[3 /XYZ null 700 null]");
    ASSERT_TRUE(d.isOk());
    EXPECT_EQ(d.getKind(), LinkDestination::kXyz);
    EXPECT_FALSE(d.isPageRef());
    EXPECT_EQ(d.getPageNum(), 4);
    EXPECT_FALSE(d.getChangeLeft());
    EXPECT_TRUE(d.getChangeTop());
    EXPECT_DOUBLE_EQ(d.getTop(), 700);
    EXPECT_FALSE(d.getChangeZoom());

    LinkDestination shortXyz = dest("[5 0 R /XYZ 10]");
    ASSERT_TRUE(shortXyz.isOk());
    EXPECT_TRUE(shortXyz.isPageRef());
    EXPECT_EQ(shortXyz.getPageRefNum(), 5);
    EXPECT_TRUE(shortXyz.getChangeLeft());
    EXPECT_FALSE(shortXyz.getChangeTop());
}

TEST(LinkDestination, FitKindsReadTheirOperands) {
    LinkDestination fitH = dest("[5 0 R /FitH 500]");
    ASSERT_TRUE(fitH.isOk());
    EXPECT_EQ(fitH.getKind(), LinkDestination::kFitH);
    EXPECT_DOUBLE_EQ(fitH.getTop(), 500);
    LinkDestination fitBV = dest("[5 0 R /FitBV 72.5]");
    EXPECT_EQ(fitBV.getKind(), LinkDestination::kFitBV);
    EXPECT_DOUBLE_EQ(fitBV.getLeft(), 72.5);
    LinkDestination fitR = dest("[0 /FitR 1 2 3 4]");
    ASSERT_TRUE(fitR.isOk());
    EXPECT_EQ(fitR.getPageNum(), 1);
    EXPECT_DOUBLE_EQ(fitR.getLeft(), 1);
    EXPECT_DOUBLE_EQ(fitR.getBottom(), 2);
    EXPECT_DOUBLE_EQ(fitR.getRight(), 3);
    EXPECT_DOUBLE_EQ(fitR.getTop(), 4);
    EXPECT_EQ(dest("[5 0 R /FitB]").getKind(), LinkDestination::kFitB);
}

TEST(LinkDestination, MalformedArraysAreNotOk) {
    ErrorCapture errors;
    EXPECT_FALSE(dest("[5 0 R /FitR 1 2 3]").isOk());
    EXPECT_FALSE(dest("[5 0 R /FitH]").isOk());
    EXPECT_FALSE(dest("[5 0 R]").isOk());
    EXPECT_FALSE(dest("[5 0 R /Zoom]").isOk());
    EXPECT_FALSE(dest("[(page) /Fit]").isOk());
    EXPECT_FALSE(dest("[5 0 R /XYZ (left) 1 1]").isOk());
    EXPECT_EQ(errors.count(), 6u);
}

TEST(LinkDestination, NonNumericFitOperandIsReportedAndZero) {
    ErrorCapture errors;
    LinkDestination d = dest("[5 0 R /FitH null]");
    EXPECT_TRUE(d.isOk());
    EXPECT_DOUBLE_EQ(d.getTop(), 0);
    EXPECT_EQ(errors.count(), 1u);
}

// ---- actions --------------------------------------------------------------

TEST(LinkAction, GoToWithArrayOrNamedDestination) {
    auto a = LinkAction::create(parse("<< /S /GoTo /D [4 0 R /Fit] >>"), nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->getKind(), LinkAction::kGoTo);
    ASSERT_NE(static_cast<LinkGoTo*>(a.get())->getDest(), nullptr);
    EXPECT_EQ(static_cast<LinkGoTo*>(a.get())->getDest()->getPageRefNum(), 4);

    auto named = LinkAction::create(parse("<< /S /GoTo /D (chapter.1) >>"), nullptr);
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(str(static_cast<LinkGoTo*>(named.get())->getNamedDest()), "chapter.1");
    auto byName = LinkAction::createFromDest(parse("/Intro"));
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(str(static_cast<LinkGoTo*>(byName.get())->getNamedDest()), "Intro");

    ErrorCapture errors;
    EXPECT_EQ(LinkAction::create(parse("<< /S /GoTo /D [4 0 R /Nope] >>"), nullptr), nullptr);
    EXPECT_EQ(LinkAction::createFromDest(parse("42")), nullptr);
    EXPECT_EQ(LinkAction::create(parse("<< /D [4 0 R /Fit] >>"), nullptr), nullptr);
    EXPECT_EQ(LinkAction::create(parse("[/S /GoTo]"), nullptr), nullptr);
}

TEST(LinkAction, GoToRNeedsAFileAndADestination) {
    auto a = LinkAction::create(parse("<< /S /GoToR /F (other.pdf) /D [0 /Fit] >>"), nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->getKind(), LinkAction::kGoToR);
    EXPECT_EQ(str(static_cast<LinkGoToR*>(a.get())->getFileName()), "other.pdf");
    ErrorCapture errors;
    EXPECT_EQ(LinkAction::create(parse("<< /S /GoToR /D [0 /Fit] >>"), nullptr), nullptr);
    EXPECT_EQ(LinkAction::create(parse("<< /S /GoToR /F (other.pdf) >>"), nullptr), nullptr);
}

TEST(LinkAction, LaunchTakesFOrTheWinDictionary) {
    auto a = LinkAction::create(parse("<< /S /Launch /F << /F (tool) >> >>"), nullptr);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(str(static_cast<LinkLaunch*>(a.get())->getFileName()), "tool");
    auto win = LinkAction::create(parse("<< /S /Launch /Win << /F (app) /P (-x) >> >>"), nullptr);
    ASSERT_NE(win, nullptr);
    EXPECT_EQ(str(static_cast<LinkLaunch*>(win.get())->getFileName()), "app");
    EXPECT_EQ(str(static_cast<LinkLaunch*>(win.get())->getParams()), "-x");
    ErrorCapture errors;
    EXPECT_EQ(LinkAction::create(parse("<< /S /Launch /Win 5 >>"), nullptr), nullptr);
    EXPECT_FALSE(errors.empty());
}

std::string joined(const char* uri, const char* base) {
    DynString baseUri(base ? base : "");
    auto a =
        LinkAction::create(parse(std::string("<< /S /URI /URI (") + uri + ") >>"), base ? &baseUri : nullptr);
    return a ? str(static_cast<LinkUri*>(a.get())->getUri()) : "(none)";
}

TEST(LinkAction, RelativeUrisJoinTheBase) {
    EXPECT_EQ(joined("doc.html", "http://example.com/dir/"), "http://example.com/dir/doc.html");
    EXPECT_EQ(joined("/doc.html", "http://example.com/dir/"), "http://example.com/dir/doc.html");
    EXPECT_EQ(joined("doc.html", "http://example.com/dir"), "http://example.com/dir/doc.html");
    EXPECT_EQ(joined("/doc.html", "http://example.com/dir"), "http://example.com/dir/doc.html");
    EXPECT_EQ(joined("q=1", "http://example.com/search?"), "http://example.com/search?q=1");
    EXPECT_EQ(joined("a/b.html", "http://example.com"), "http://example.com/a/b.html");
    // A scheme before any slash: absolute.
    EXPECT_EQ(joined("http://other.org/x", "http://example.com/"), "http://other.org/x");
    EXPECT_EQ(joined("mailto:someone", "http://example.com/"), "mailto:someone");
    // No base, or an empty one.
    EXPECT_EQ(joined("doc.html", nullptr), "doc.html");
    EXPECT_EQ(joined("doc.html", ""), "doc.html");
    ErrorCapture errors;
    EXPECT_EQ(LinkAction::create(parse("<< /S /URI /URI 5 >>"), nullptr), nullptr);
}

TEST(LinkAction, NamedMovieAndUnknownKinds) {
    auto named = LinkAction::create(parse("<< /S /Named /N /NextPage >>"), nullptr);
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(str(static_cast<LinkNamed*>(named.get())->getName()), "NextPage");
    EXPECT_EQ(LinkAction::create(parse("<< /S /Named /N (NextPage) >>"), nullptr), nullptr);

    auto movie = LinkAction::create(parse("<< /S /Movie /Annot 12 0 R >>"), nullptr);
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(static_cast<LinkMovie*>(movie.get())->getAnnotRefNum(), 12);
    auto titled = LinkAction::create(parse("<< /S /Movie /T (clip) >>"), nullptr);
    ASSERT_NE(titled, nullptr);
    EXPECT_EQ(static_cast<LinkMovie*>(titled.get())->getAnnotRefNum(), -1);
    EXPECT_EQ(str(static_cast<LinkMovie*>(titled.get())->getTitle()), "clip");
    EXPECT_EQ(LinkAction::create(parse("<< /S /Movie >>"), nullptr), nullptr);

    auto unknown = LinkAction::create(parse("<< /S /JavaScript /JS (app.alert(1)) >>"), nullptr);
    ASSERT_NE(unknown, nullptr);
    EXPECT_EQ(unknown->getKind(), LinkAction::kUnknown);
    EXPECT_EQ(str(static_cast<LinkUnknown*>(unknown.get())->getAction()), "JavaScript");
}

// ---- file spec entries -----------------------------------------------------

TEST(FileSpecName, PortableNamesAreThisPlatformsPaths) {
    EXPECT_EQ(str(getFileSpecName(parse("(/c/dir/file.pdf)")).get()), "/c/dir/file.pdf");
    EXPECT_EQ(str(getFileSpecName(parse("(dir/file.pdf)")).get()), "dir/file.pdf");
    // An escaped slash is a slash.
    EXPECT_EQ(str(getFileSpecName(parse("(a\\\\/b)")).get()), "a/b");
    EXPECT_EQ(str(getFileSpecName(parse("<< /F (f.pdf) /Unix (u.pdf) >>")).get()), "u.pdf");
    EXPECT_EQ(str(getFileSpecName(parse("<< /F (f.pdf) /Unix 5 >>")).get()), "f.pdf");
    ErrorCapture errors;
    EXPECT_EQ(getFileSpecName(parse("<< /DOS (f.pdf) >>")), nullptr);
    EXPECT_EQ(getFileSpecName(parse("42")), nullptr);
    EXPECT_EQ(errors.count(), 2u);
}

}  // namespace
}  // namespace rendova
