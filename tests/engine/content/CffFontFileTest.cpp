#include "engine/content/CffFontFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/content/FontFileTables.h"
#include "engine/core/BuiltinEncodings.h"

namespace rendova {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes cffIndex(const std::vector<Bytes>& elements) {
    Bytes out;
    size_t count = elements.size();
    out.push_back(static_cast<uint8_t>(count >> 8));
    out.push_back(static_cast<uint8_t>(count));
    if (count == 0)
        return out;
    size_t total = 1;
    for (const Bytes& e : elements)
        total += e.size();
    int size = total < 0x100 ? 1 : total < 0x10000 ? 2 : 3;
    out.push_back(static_cast<uint8_t>(size));
    size_t offset = 1;
    auto putOffset = [&](size_t v) {
        for (int i = size - 1; i >= 0; --i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    putOffset(offset);
    for (const Bytes& e : elements) {
        offset += e.size();
        putOffset(offset);
    }
    for (const Bytes& e : elements)
        out.insert(out.end(), e.begin(), e.end());
    return out;
}

// A DICT integer in its fixed 5-byte form, so that DICT sizes do not depend
// on the values.
void dictInt(Bytes& dict, int32_t v) {
    dict.push_back(29);
    for (int i = 3; i >= 0; --i)
        dict.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

void dictOp(Bytes& dict, int op) {
    if (op >= 3072) {
        dict.push_back(12);
        dict.push_back(static_cast<uint8_t>(op - 3072));
    } else {
        dict.push_back(static_cast<uint8_t>(op));
    }
}

Bytes bytes(std::initializer_list<int> list) {
    Bytes out;
    for (int v : list)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

struct CffSpec {
    std::string name = "TestFont";
    std::vector<Bytes> strings;
    int globalSubrs = 0;
    int glyphs = 4;
    bool cid = false;
    Bytes topExtra;  // raw DICT bytes at the start of the top DICT
    Bytes charset;   // raw; empty: the predefined charset `charsetOffset`
    int charsetOffset = 0;
    Bytes encoding;  // raw; empty: the predefined encoding `encodingOffset`
    int encodingOffset = 0;
    Bytes fdSelect;  // raw (CID fonts)
};

Bytes buildCff(const CffSpec& spec) {
    Bytes header = bytes({1, 0, 4, 4});
    Bytes nameIndex = cffIndex({Bytes(spec.name.begin(), spec.name.end())});
    Bytes stringIndex = cffIndex(spec.strings);
    Bytes globalIndex = cffIndex(std::vector<Bytes>(static_cast<size_t>(spec.globalSubrs), Bytes{11}));
    Bytes charStrings = cffIndex(std::vector<Bytes>(static_cast<size_t>(spec.glyphs), Bytes{14}));
    Bytes privateDict;
    dictInt(privateDict, 300);
    dictOp(privateDict, 20);  // default width
    Bytes fontDict;
    dictInt(fontDict, 0);
    dictInt(fontDict, 0);
    dictOp(fontDict, 18);

    auto makeTop = [&](int charStringsAt, int charsetAt, int encodingAt, int privateAt, int fdArrayAt,
                       int fdSelectAt) {
        Bytes top;
        if (spec.cid) {
            dictInt(top, 391);
            dictInt(top, 392);
            dictInt(top, 0);
            dictOp(top, CffFontFile::kRosOperator);
        }
        top.insert(top.end(), spec.topExtra.begin(), spec.topExtra.end());
        dictInt(top, charsetAt);
        dictOp(top, 15);
        dictInt(top, encodingAt);
        dictOp(top, 16);
        dictInt(top, charStringsAt);
        dictOp(top, 17);
        if (spec.cid) {
            dictInt(top, fdArrayAt);
            dictOp(top, CffFontFile::kEscapedOperator + 36);
            dictInt(top, fdSelectAt);
            dictOp(top, CffFontFile::kEscapedOperator + 37);
        } else {
            dictInt(top, static_cast<int>(privateDict.size()));
            dictInt(top, privateAt);
            dictOp(top, 18);
        }
        return cffIndex({top});
    };
    size_t topSize = makeTop(0, 0, 0, 0, 0, 0).size();
    size_t pos = header.size() + nameIndex.size() + topSize + stringIndex.size() + globalIndex.size();
    int charStringsAt = static_cast<int>(pos);
    pos += charStrings.size();
    int charsetAt = spec.charset.empty() ? spec.charsetOffset : static_cast<int>(pos);
    pos += spec.charset.size();
    int encodingAt = spec.encoding.empty() ? spec.encodingOffset : static_cast<int>(pos);
    pos += spec.encoding.size();
    int fdSelectAt = spec.fdSelect.empty() ? 0 : static_cast<int>(pos);
    pos += spec.fdSelect.size();
    int privateAt = static_cast<int>(pos);
    pos += privateDict.size();
    Bytes fdArray;
    int fdArrayAt = 0;
    if (spec.cid) {
        Bytes fd;
        dictInt(fd, static_cast<int>(privateDict.size()));
        dictInt(fd, privateAt);
        dictOp(fd, 18);
        fdArray = cffIndex({fd});
        fdArrayAt = static_cast<int>(pos);
    }
    Bytes out = header;
    out.insert(out.end(), nameIndex.begin(), nameIndex.end());
    const Bytes top = makeTop(charStringsAt, charsetAt, encodingAt, privateAt, fdArrayAt, fdSelectAt);
    for (const Bytes* part :
         std::initializer_list<const Bytes*>{&top, &stringIndex, &globalIndex, &charStrings, &spec.charset,
                                             &spec.encoding, &spec.fdSelect, &privateDict, &fdArray})
        out.insert(out.end(), part->begin(), part->end());
    return out;
}

std::unique_ptr<CffFontFile> parse(const Bytes& data) {
    return CffFontFile::fromBuffer(data.data(), static_cast<int>(data.size()));
}

TEST(CffFontFile, ReadsNameEncodingAndPrivateDict) {
    CffSpec spec;
    spec.charset = bytes({0, 0, 34, 0, 35, 0, 36});  // A B C
    spec.encoding = bytes({0, 3, 65, 66, 67});
    Bytes data = buildCff(spec);
    auto font = parse(data);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->getName()->compareCStr("TestFont"), 0);
    EXPECT_EQ(font->getGlyphCount(), 4);
    EXPECT_FALSE(font->isCidKeyed());
    EXPECT_STREQ(font->getEncoding()[65], "A");
    EXPECT_STREQ(font->getEncoding()[67], "C");
    EXPECT_EQ(font->getEncoding()[68], nullptr);
    ASSERT_EQ(font->getPrivateDictCount(), 1);
    EXPECT_EQ(font->getPrivateDict(0).defaultWidth, 300);
    EXPECT_EQ(font->getTopDict().underlinePosition, -100);
    EXPECT_EQ(font->getTopDict().fontMatrix[0], 0.001);
}

TEST(CffFontFile, FileWithAStrayFirstByteIsReadFromItsSecond) {
    Bytes data = buildCff(CffSpec());
    data.insert(data.begin(), 0x25);
    auto font = parse(data);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->getName()->compareCStr("TestFont"), 0);
}

TEST(CffFontFile, GlobalSubroutineBiasFollowsTheCount) {
    for (auto [count, bias] : {std::pair{0, 107}, {1239, 107}, {1240, 1131}, {33899, 1131}, {33900, 32768}}) {
        CffSpec spec;
        spec.globalSubrs = count;
        auto font = parse(buildCff(spec));
        ASSERT_NE(font, nullptr) << count;
        EXPECT_EQ(font->getGlobalSubrBias(), bias) << count;
    }
}

TEST(CffFontFile, PredefinedEncodingsAndSupplements) {
    CffSpec spec;
    spec.encodingOffset = 1;
    auto expert = parse(buildCff(spec));
    ASSERT_NE(expert, nullptr);
    EXPECT_EQ(expert->getEncoding(), kCffExpertEncoding);
    spec.encodingOffset = 0;
    auto standard = parse(buildCff(spec));
    ASSERT_NE(standard, nullptr);
    EXPECT_EQ(standard->getEncoding(), kStandardEncoding);

    // Format 1 ranges with a supplement naming "B" (string 35) at code 200.
    spec.charset = bytes({0, 0, 34, 0, 35, 0, 36});
    spec.encoding = bytes({0x81, 1, 97, 2, 1, 200, 0, 35});
    auto font = parse(buildCff(spec));
    ASSERT_NE(font, nullptr);
    EXPECT_STREQ(font->getEncoding()[97], "A");
    EXPECT_STREQ(font->getEncoding()[99], "C");
    EXPECT_STREQ(font->getEncoding()[200], "B");
}

TEST(CffFontFile, CidFontMapsCidsToGlyphs) {
    CffSpec spec;
    spec.cid = true;
    spec.charset = bytes({0, 0, 10, 0, 20, 0, 30});
    spec.fdSelect = bytes({3, 0, 1, 0, 0, 0, 0, 4});
    auto font = parse(buildCff(spec));
    ASSERT_NE(font, nullptr);
    EXPECT_TRUE(font->isCidKeyed());
    EXPECT_EQ(font->getEncoding()[65], nullptr);
    int length = 0;
    std::unique_ptr<uint16_t[]> map = font->buildCidToGlyphMap(&length);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(length, 31);
    EXPECT_EQ(map[10], 1);
    EXPECT_EQ(map[20], 2);
    EXPECT_EQ(map[30], 3);
    EXPECT_EQ(map[15], 0);
    EXPECT_EQ(font->getFontDictIndex(3), 0);
    EXPECT_EQ(font->getPrivateDict(0).defaultWidth, 300);

    // An FDSelect range past the glyph count fails the font.
    spec.fdSelect = bytes({3, 0, 1, 0, 0, 0, 0, 9});
    EXPECT_EQ(parse(buildCff(spec)), nullptr);
}

TEST(CffFontFile, RealOperandIsCutAtItsLimit) {
    CffSpec spec;
    // 1 followed by 69 zeros: the text is cut to 63 characters, 1e62.
    spec.topExtra = {30, 0x10};
    for (int i = 0; i < 34; ++i)
        spec.topExtra.push_back(0x00);
    spec.topExtra.push_back(0xff);
    dictOp(spec.topExtra, CffFontFile::kEscapedOperator + 2);
    // 2.5E-1, and a real without its end nibble that runs into the next
    // operator's bytes stays inside the DICT.
    for (int v : {30, 0x2a, 0x5c, 0x1f})
        spec.topExtra.push_back(static_cast<uint8_t>(v));
    dictOp(spec.topExtra, CffFontFile::kEscapedOperator + 3);
    auto font = parse(buildCff(spec));
    ASSERT_NE(font, nullptr);
    EXPECT_DOUBLE_EQ(font->getTopDict().italicAngle, 1e62);
    EXPECT_DOUBLE_EQ(font->getTopDict().underlinePosition, 0.25);
}

TEST(CffFontFile, OperandsPastTheLimitAreDropped) {
    CffSpec spec;
    for (int i = 0; i < 60; ++i)
        dictInt(spec.topExtra, 1000 + i);
    dictOp(spec.topExtra, 13);
    auto font = parse(buildCff(spec));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->getTopDict().uniqueId, 1000);
}

TEST(CffFontFile, LongStringsAreCutTo255Bytes) {
    CffSpec spec;
    spec.strings = {Bytes(300, 'a')};
    spec.charset = bytes({0, 1, 135, 0, 35, 0, 36});  // glyph 1 is string 391
    spec.encoding = bytes({0, 1, 65});
    auto font = parse(buildCff(spec));
    ASSERT_NE(font, nullptr);
    ASSERT_NE(font->getEncoding()[65], nullptr);
    EXPECT_EQ(std::strlen(font->getEncoding()[65]), 255u);
}

TEST(CffFontFile, CharsetAndEncodingRangesStopAtTheGlyphCount) {
    CffSpec spec;
    spec.glyphs = 3;
    spec.charset = bytes({2, 0, 34, 0xEA, 0x60});  // one range of 60,001 glyphs
    spec.encoding = bytes({1, 1, 30, 200});        // 201 codes from 30
    auto font = parse(buildCff(spec));
    ASSERT_NE(font, nullptr);
    EXPECT_STREQ(font->getEncoding()[30], "A");
    EXPECT_STREQ(font->getEncoding()[31], "B");
    EXPECT_EQ(font->getEncoding()[32], nullptr);

    spec.encoding = bytes({0, 250, 65, 66});  // more codes than glyphs
    auto format0 = parse(buildCff(spec));
    ASSERT_NE(format0, nullptr);
    EXPECT_STREQ(format0->getEncoding()[66], "B");
}

TEST(CffFontFile, EveryTruncationIsRefusedOrReadSafely) {
    CffSpec spec;
    spec.cid = true;
    spec.charset = bytes({1, 0, 10, 2});
    spec.fdSelect = bytes({0, 0, 0, 0, 0});
    Bytes data = buildCff(spec);
    ASSERT_NE(parse(data), nullptr);
    for (size_t n = 0; n < data.size(); ++n) {
        Bytes cut(data.begin(), data.begin() + static_cast<long>(n));
        auto font = parse(cut);
        if (font) {
            int length = 0;
            font->buildCidToGlyphMap(&length);
        }
    }
    EXPECT_EQ(parse(Bytes{}), nullptr);
    EXPECT_EQ(CffFontFile::fromFile("/no/such/font.cff"), nullptr);
}

}  // namespace
}  // namespace rendova
