// Every EMF and WMF page our page writer makes is read back by the image
// library's metafile reader as the BMP of the same page, from real
// documents, plain and turned.
#include <gtest/gtest.h>

#include <string>

#include "image/RasterImage.h"
#include "library/ConversionJob.h"
#include "library/PageImageWriter.h"
#include "tests/library/LibraryTestSupport.h"

namespace {

using rendova::ConversionJob;
using rendova::PageImageWriter;
using rendova::RasterImage;
using namespace rendova::test;

struct Page {
    const char* document;
    int32_t rotation;
};

// The first page of the document as `type`, its path.
std::string convert(const std::string& folder, const Page& page, int32_t type) {
    ConversionJob job;
    job.setOption(ConversionJob::kOptionOutputFolder, folder.c_str(), 0, 0);
    job.setOption(ConversionJob::kOptionImageType, nullptr, type, 0);
    job.setOption(ConversionJob::kOptionXDpi, nullptr, 72, 0);
    job.setOption(ConversionJob::kOptionYDpi, nullptr, 72, 0);
    job.setOption(ConversionJob::kOptionRotation, nullptr, page.rotation, 0);
    if (job.open(corpusFile(page.document).c_str(), nullptr, nullptr) != 1)
        return {};
    const char* extension = type == PageImageWriter::kTypeEmf   ? "emf"
                            : type == PageImageWriter::kTypeWmf ? "wmf"
                                                                : "bmp";
    const std::string name = std::string("page-") + extension;
    if (job.convertPageNamed(1, name.c_str()) != 1)
        return {};
    return folder + name + "." + extension;
}

TEST(MetafileReplay, OurMetafilePagesReadBackAsTheirBitmaps) {
    if (!fs::exists(corpusFile("made-gs-tiger.pdf")))
        GTEST_SKIP() << "the corpus is not beside the source tree";
    const Page pages[] = {
        {"made-gs-tiger.pdf", 0}, {"made-cairo-features-cjk-emoji.pdf", 0}, {"made-im-cmyk-dct.pdf", 90},
        {"deb-r-intro.pdf", 0},   {"made-gs-waterfal-std14.pdf", 270},      {"made-groff-pic-ms.pdf", 180},
    };
    int index = 0;
    for (const Page& page : pages) {
        SCOPED_TRACE(page.document);
        const std::string folder = freshFolder("replay-" + std::to_string(index++));
        RasterImage bitmap;
        ASSERT_TRUE(
            bitmap.Load(convert(folder, page, PageImageWriter::kTypeBmp).c_str(), rendova::kFormatBmp));
        for (const int32_t type : {PageImageWriter::kTypeEmf, PageImageWriter::kTypeWmf}) {
            SCOPED_TRACE(type == PageImageWriter::kTypeEmf ? "EMF" : "WMF");
            RasterImage played;
            const std::string path = convert(folder, page, type);
            ASSERT_FALSE(path.empty());
            ASSERT_TRUE(played.Load(path.c_str(), rendova::kFormatWmf)) << played.LastErrorText();
            ASSERT_EQ(played.GetWidth(), bitmap.GetWidth());
            ASSERT_EQ(played.GetHeight(), bitmap.GetHeight());
            // The EMF frame maps a hair off whole pixels, but nearest
            // neighbour lands on the same pixel: the pages are equal.
            int64_t differing = 0;
            for (int32_t y = 0; y < bitmap.GetHeight(); ++y)
                for (int32_t x = 0; x < bitmap.GetWidth(); ++x)
                    differing += bitmap.ReadColor(x, y, false) != played.ReadColor(x, y, false);
            EXPECT_EQ(differing, 0);
        }
    }
}

}  // namespace
