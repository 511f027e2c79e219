#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/core/EmbeddedSource.h"
#include "engine/core/FileSource.h"
#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::memoryStream;
using test::readAll;

std::string pattern(int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s.push_back(static_cast<char>((i * 7 + i / 256) & 0xff));
    return s;
}

// A file of 1,000 known bytes, opened for reading, removed afterwards.
class FileSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_content = pattern(1000);
        m_name = std::string("filesource-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::FILE* out = std::fopen(m_name.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(m_content.data(), 1, m_content.size(), out);
        std::fclose(out);
        m_file = std::fopen(m_name.c_str(), "rb");
        ASSERT_NE(m_file, nullptr);
    }
    void TearDown() override {
        if (m_file)
            std::fclose(m_file);
        std::remove(m_name.c_str());
    }
    RefPtr<FileSource> source(uint32_t start, bool limited, uint32_t length) {
        return RefPtr<FileSource>::adopt(new FileSource(m_file, start, limited, length, PdfValue()));
    }

    std::string m_content;
    std::string m_name;
    std::FILE* m_file = nullptr;
};

TEST_F(FileSourceTest, LimitedRangeOfLengthZeroEndsAtOnce) {
    auto s = source(100, true, 0);
    s->reset();
    EXPECT_EQ(s->peekChar(), -1);
    EXPECT_EQ(s->getChar(), -1);
    s->close();
}

TEST_F(FileSourceTest, RangesReadExactlyTheirBytes) {
    // Inside one chunk, across chunks, and unlimited to the end of the file.
    EXPECT_EQ(readAll(source(10, true, 20).get()), m_content.substr(10, 20));
    EXPECT_EQ(readAll(source(5, true, 700).get()), m_content.substr(5, 700));
    EXPECT_EQ(readAll(source(300, false, 0).get()), m_content.substr(300));
    // A limit past the end of the file stops at the end of the file.
    EXPECT_EQ(readAll(source(990, true, 100).get()), m_content.substr(990));
}

TEST_F(FileSourceTest, GetPosCountsFileOffsets) {
    auto s = source(250, true, 100);
    s->reset();
    EXPECT_EQ(s->getPos(), 250);
    for (int i = 0; i < 10; ++i)
        s->getChar();
    EXPECT_EQ(s->getPos(), 260);
    s->close();
}

TEST_F(FileSourceTest, ResetTwiceStillRestoresTheOuterPosition) {
    std::fseek(m_file, 123, SEEK_SET);
    auto s = source(500, true, 50);
    s->reset();
    s->getChar();
    s->reset();  // a reread: must not remember its own position as the outer one
    EXPECT_EQ(s->getChar(), static_cast<unsigned char>(m_content[500]));
    s->close();
    EXPECT_EQ(std::ftell(m_file), 123);
}

TEST_F(FileSourceTest, DestructorRestoresThePosition) {
    std::fseek(m_file, 77, SEEK_SET);
    {
        auto s = source(0, false, 0);
        s->reset();
        s->getChar();
    }
    EXPECT_EQ(std::ftell(m_file), 77);
}

TEST_F(FileSourceTest, SourcesOnOneHandleReadInTurn) {
    // Two ranges of the same file read alternately, each past a chunk
    // boundary: every refill must read from its own position.
    auto a = source(0, true, 600);
    auto b = source(400, true, 600);
    std::string readA, readB;
    a->reset();
    for (int i = 0; i < 300; ++i)
        readA.push_back(static_cast<char>(a->getChar()));
    b->reset();
    for (int i = 0; i < 300; ++i)
        readB.push_back(static_cast<char>(b->getChar()));
    for (int c; (c = a->getChar()) != -1;)
        readA.push_back(static_cast<char>(c));
    for (int c; (c = b->getChar()) != -1;)
        readB.push_back(static_cast<char>(c));
    b->close();
    a->close();
    EXPECT_EQ(readA, m_content.substr(0, 600));
    EXPECT_EQ(readB, m_content.substr(400, 600));
}

TEST_F(FileSourceTest, SetPosFromTheEndStopsAtOffsetZero) {
    auto s = source(0, false, 0);
    s->reset();
    s->setPos(10, -1);
    EXPECT_EQ(s->getPos(), 990);
    EXPECT_EQ(s->getChar(), static_cast<unsigned char>(m_content[990]));
    s->setPos(5000, -1);
    EXPECT_EQ(s->getPos(), 0);
    EXPECT_EQ(s->getChar(), static_cast<unsigned char>(m_content[0]));
    s->setPos(321, 0);
    EXPECT_EQ(s->getPos(), 321);
    EXPECT_EQ(s->getChar(), static_cast<unsigned char>(m_content[321]));
    s->close();
}

TEST_F(FileSourceTest, SubrangeAndShiftedStart) {
    auto s = source(0, false, 0);
    PdfValue dict;
    dict.initDict(nullptr);
    RefPtr<SourceStream> sub = s->makeSubrange(200, true, 10, std::move(dict));
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->getKind(), DataStream::kFileKind);
    EXPECT_EQ(sub->getStart(), 200u);
    EXPECT_TRUE(sub->getDict()->isDict());
    EXPECT_EQ(sub->getSourceStream(), sub.get());
    EXPECT_EQ(readAll(sub.get()), m_content.substr(200, 10));
    sub->shiftStart(-5);
    EXPECT_EQ(sub->getStart(), 195u);
    EXPECT_EQ(readAll(sub.get()), m_content.substr(195, 10));
    sub->shiftStart(-1000);
    EXPECT_EQ(sub->getStart(), 0u);
}

// --- MemorySource ---

TEST(MemorySourceTest, ReadsItsRangeAndRereads) {
    const std::string data = "0123456789";
    auto s = RefPtr<MemorySource>::adopt(new MemorySource(data.data(), 2, 5, PdfValue()));
    EXPECT_EQ(readAll(s.get()), "23456");
    EXPECT_EQ(readAll(s.get()), "23456");
    s->reset();
    s->getChar();
    EXPECT_EQ(s->getPos(), 3);
}

TEST(MemorySourceTest, SubrangeIsCutAtTheEnd) {
    const std::string data = "0123456789";
    auto s = RefPtr<MemorySource>::adopt(new MemorySource(data.data(), 0, 10, PdfValue()));
    EXPECT_EQ(readAll(s->makeSubrange(3, true, 4, PdfValue()).get()), "3456");
    EXPECT_EQ(readAll(s->makeSubrange(7, true, 100, PdfValue()).get()), "789");
    EXPECT_EQ(readAll(s->makeSubrange(4, false, 1, PdfValue()).get()), "456789");
}

TEST(MemorySourceTest, SubrangeStartingPastTheEndIsEmpty) {
    const std::string data = "0123456789";
    auto s = RefPtr<MemorySource>::adopt(new MemorySource(data.data(), 0, 10, PdfValue()));
    for (bool limited : {true, false}) {
        RefPtr<SourceStream> sub = s->makeSubrange(50, limited, 5, PdfValue());
        EXPECT_EQ(sub->getStart(), 10u);
        EXPECT_EQ(readAll(sub.get()), "");
    }
    RefPtr<SourceStream> huge = s->makeSubrange(0xfffffff0u, true, 0x20, PdfValue());
    EXPECT_EQ(readAll(huge.get()), "");
}

TEST(MemorySourceTest, SetPosStaysInsideTheRange) {
    const std::string data = "0123456789";
    auto s = RefPtr<MemorySource>::adopt(new MemorySource(data.data(), 2, 6, PdfValue()));
    s->reset();
    s->setPos(3, -1);
    EXPECT_EQ(s->getChar(), '5');
    s->setPos(100, -1);
    EXPECT_EQ(s->getChar(), '2');
    s->setPos(0, 0);
    EXPECT_EQ(s->getChar(), '2');
    s->setPos(100, 0);
    EXPECT_EQ(s->getChar(), -1);
    s->setPos(4, 0);
    EXPECT_EQ(s->getChar(), '4');
}

TEST(MemorySourceTest, ShiftStartKeepsTheEnd) {
    const std::string data = "0123456789";
    auto s = RefPtr<MemorySource>::adopt(new MemorySource(data.data(), 2, 6, PdfValue()));
    s->shiftStart(2);
    EXPECT_EQ(s->getStart(), 4u);
    EXPECT_EQ(readAll(s.get()), "4567");
    s->shiftStart(-3);
    EXPECT_EQ(readAll(s.get()), "1234567");
    s->shiftStart(50);
    EXPECT_EQ(readAll(s.get()), "");
}

// --- EmbeddedSource ---

TEST(EmbeddedSourceTest, ReadsItsLengthOfTheParentFromWhereItStands) {
    RefPtr<DataStream> parent = memoryStream("head:BODYtail");
    parent->reset();
    for (int i = 0; i < 5; ++i)
        parent->getChar();
    auto embedded = RefPtr<EmbeddedSource>::adopt(new EmbeddedSource(parent.get(), PdfValue(), true, 4));
    embedded->reset();
    EXPECT_EQ(embedded->getKind(), parent->getKind());
    std::string body;
    for (int c; (c = embedded->getChar()) != -1;)
        body.push_back(static_cast<char>(c));
    EXPECT_EQ(body, "BODY");
    EXPECT_EQ(embedded->peekChar(), -1);
    EXPECT_EQ(parent->getChar(), 't');

    auto unlimited = RefPtr<EmbeddedSource>::adopt(new EmbeddedSource(parent.get(), PdfValue(), false, 0));
    EXPECT_EQ(unlimited->getChar(), 'a');
    EXPECT_EQ(unlimited->getPos(), parent->getPos());
}

TEST(EmbeddedSourceTest, RangeOperationsAreReported) {
    RefPtr<DataStream> parent = memoryStream("abc");
    auto embedded = RefPtr<EmbeddedSource>::adopt(new EmbeddedSource(parent.get(), PdfValue(), false, 0));
    ErrorCapture errors;
    EXPECT_FALSE(embedded->makeSubrange(0, false, 0, PdfValue()));
    EXPECT_EQ(embedded->getStart(), 0u);
    embedded->shiftStart(1);
    embedded->setPos(0, 0);
    EXPECT_EQ(errors.count(), 4u);
}

}  // namespace
}  // namespace rendova
