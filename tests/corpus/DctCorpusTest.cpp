// The DCT decoder on the real documents: every stream of the corpus whose
// outermost filter is DCTDecode, fetched through the engine's own parser,
// decodes to libjpeg's samples (accurate integer transform, no interpolation)
// within 2 before the colour transform, and within 3 after it (libjpeg's own
// conversion scales its chroma difference of 1 by up to 1.772). The colour
// transform follows PDF's rule, which libjpeg is told where the two differ.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/FileSource.h"
#include "engine/core/JpegDecoder.h"
#include "engine/core/Memory.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "engine/core/XrefTable.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/JpegReference.h"

namespace rendova {
namespace {

std::vector<std::string> unencryptedFilesUsingDct() {
    std::vector<std::string> files;
    std::ifstream manifest(std::string(RENDOVA_CORPUS_DIR) + "/MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line);  // header
    while (std::getline(manifest, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (fields.size() >= 5 && fields[4].find("DCTDecode") != std::string::npos &&
            (fields.size() < 6 || fields[5].empty()))
            files.push_back(fields[0]);
    }
    return files;
}

std::string readStream(DataStream* stream) {
    std::string out;
    stream->reset();
    for (int c; (c = stream->getChar()) != -1;)
        out.push_back(static_cast<char>(c));
    stream->close();
    return out;
}

std::string decodeBytes(const std::string& jpeg, int colorTransform) {
    char* copy = static_cast<char*>(memAlloc(static_cast<int>(jpeg.size()) + 1));
    std::memcpy(copy, jpeg.data(), jpeg.size());
    auto* source = new MemorySource(copy, 0, static_cast<uint32_t>(jpeg.size()), PdfValue());
    source->setOwnsBuffer(true);
    RefPtr<DataStream> decoder =
        RefPtr<DataStream>::adopt(new JpegDecoder(RefPtr<DataStream>::adopt(source), colorTransform));
    return readStream(decoder.get());
}

int maxDifference(const std::string& ours, const test::ReferenceImage& reference) {
    if (ours.size() != reference.samples.size())
        return 256;
    int worst = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        const int d = std::abs(int(static_cast<unsigned char>(ours[i])) - int(reference.samples[i]));
        worst = d > worst ? d : worst;
    }
    return worst;
}

// Whether the stream's DecodeParms name a ColorTransform, which libjpeg
// cannot be told about.
bool hasColorTransformParameter(const PdfValue& object) {
    PdfValue params;
    object.getDictOrStreamDict()->lookup("DecodeParms", params);
    if (params.isDict()) {
        PdfValue value;
        return !params.getDict()->lookup("ColorTransform", value).isNull();
    }
    return !params.isNull();
}

// Every offset of the file counts from the header marker.
void shiftToHeader(SourceStream* source) {
    char head[1024];
    int n = 0;
    source->reset();
    for (int c; n < int(sizeof head) && (c = source->getChar()) != -1;)
        head[n++] = char(c);
    for (int i = 0; i + 5 <= n; ++i) {
        if (std::memcmp(head + i, "%PDF-", 5) == 0) {
            source->shiftStart(i);
            break;
        }
    }
    source->reset();
}

TEST(DctCorpusTest, ImagesMatchLibjpeg) {
    const std::vector<std::string> files = unencryptedFilesUsingDct();
    if (files.empty())
        GTEST_SKIP() << "no corpus documents with DCT images";

    int checked = 0;
    for (const std::string& name : files) {
        const std::string path = std::string(RENDOVA_CORPUS_DIR) + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr) << name;
        {
            test::ErrorCapture quiet;
            PdfValue noDict;
            noDict.initNull();
            RefPtr<FileSource> source =
                RefPtr<FileSource>::adopt(new FileSource(file, 0, false, 0, std::move(noDict)));
            shiftToHeader(source.get());
            XrefTable xref(source.get());
            ASSERT_TRUE(xref.isOk()) << name;
            for (int num = 1; num < xref.getSize(); ++num) {
                PdfValue object;
                xref.fetch(
                    num,
                    xref.getEntry(num).type == XrefTable::kCompressed ? 0 : xref.getEntry(num).generation,
                    object);
                if (!object.isStream() || object.getStream()->getKind() != DataStream::kDctKind)
                    continue;
                DataStream* decoder = object.getStream();
                const std::string jpeg = readStream(decoder->getChainedSource());
                test::ReferenceImage raw;
                if (!test::referenceDecodeUnconverted(jpeg, &raw))
                    continue;  // libjpeg refuses it too
                const std::string where = name + " object " + std::to_string(num);

                quiet.clear();
                EXPECT_LE(maxDifference(decodeBytes(test::withoutAdobeSegment(jpeg), 0), raw), 2) << where;
                // Some writers put a restart marker after the last interval;
                // it is reported and changes nothing.
                for (const auto& report : quiet.reports())
                    EXPECT_NE(report.message.find("after the last row"), std::string::npos)
                        << where << ": " << report.message;
                if (!hasColorTransformParameter(object)) {
                    // Without an Adobe segment, PDF reads three components as
                    // YCbCr whatever their ids say; libjpeg reads ids R, G, B
                    // as RGB.
                    const J_COLOR_SPACE readAs =
                        raw.components == 3 && !raw.adobeSegment ? JCS_YCbCr : JCS_UNKNOWN;
                    test::ReferenceImage own;
                    ASSERT_TRUE(test::referenceDecode(jpeg, &own,
                                                      raw.components == 4 ? JCS_CMYK : JCS_UNKNOWN, readAs));
                    const bool converted =
                        readAs == JCS_YCbCr || raw.fileSpace == JCS_YCbCr || raw.fileSpace == JCS_YCCK;
                    EXPECT_LE(maxDifference(readStream(decoder), own), converted ? 3 : 2) << where;
                }
                ++checked;
            }
        }
        std::fclose(file);
    }
    std::printf("checked %d DCT images\n", checked);
    EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace rendova
