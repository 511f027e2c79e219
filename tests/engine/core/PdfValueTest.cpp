#include "engine/core/PdfValue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/core/Memory.h"

namespace rendova {
namespace {

PdfValue name(const char* text) {
    PdfValue v;
    v.initName(copyString(text));
    return v;
}

PdfValue integer(int i) {
    PdfValue v;
    v.initInt(i);
    return v;
}

std::string printed(const PdfValue& v) {
    char* text = nullptr;
    size_t size = 0;
    FILE* file = open_memstream(&text, &size);
    v.print(file);
    std::fclose(file);
    std::string result(text, size);
    std::free(text);
    return result;
}

TEST(PdfValueTest, CopiedStringOutlivesItsSource) {
    PdfValue source;
    source.initString(new DynString("a\0b", 3));
    PdfValue copy;
    source.copy(copy);
    source.free();
    ASSERT_TRUE(copy.isString());
    EXPECT_EQ(3, copy.getString()->getLength());
    EXPECT_EQ(0, std::memcmp(copy.getString()->getCString(), "a\0b", 3));
}

TEST(PdfValueTest, CopiedArraySharesOneContainer) {
    PdfValue source;
    source.initArray(nullptr);
    source.getArray()->add(integer(7));
    PdfArray* array = source.getArray();
    EXPECT_EQ(1, array->refCount());

    PdfValue copy;
    source.copy(copy);
    EXPECT_EQ(array, copy.getArray());
    EXPECT_EQ(2, array->refCount());

    source.free();
    EXPECT_EQ(1, array->refCount());
    PdfValue element;
    EXPECT_EQ(7, copy.getArray()->get(0, element).getInt());
}

TEST(PdfValueTest, FreeingTwiceIsHarmlessAndLeavesNone) {
    PdfValue v;
    v.initName(copyString("Type"));
    v.free();
    EXPECT_TRUE(v.isNone());
    v.free();
    EXPECT_TRUE(v.isNone());
}

TEST(PdfValueTest, SettersReleaseThePreviousPayload) {
    // Under LeakSanitizer a leak here fails the run.
    PdfValue v;
    v.initString(new DynString("x"));
    v.initDict(nullptr);
    v.initInt(3);
    EXPECT_EQ(3, v.getInt());
}

TEST(PdfValueTest, MovingLeavesTheSourceEmpty) {
    PdfValue a = name("Font");
    PdfValue b(std::move(a));
    EXPECT_TRUE(a.isNone());
    EXPECT_TRUE(b.isName("Font"));
    a = std::move(b);
    EXPECT_TRUE(a.isName("Font"));
}

TEST(PdfValueTest, NumbersAndTypeNames) {
    PdfValue v;
    v.initInt(-4);
    EXPECT_TRUE(v.isNum());
    EXPECT_DOUBLE_EQ(-4.0, v.getNum());
    v.initReal(2.5);
    EXPECT_TRUE(v.isNum());
    EXPECT_DOUBLE_EQ(2.5, v.getNum());
    EXPECT_STREQ("real", v.typeName());
    v.initRef(12, 0);
    EXPECT_FALSE(v.isNum());
    EXPECT_STREQ("reference", v.typeName());
    v.free();
    EXPECT_STREQ("none", v.typeName());
}

TEST(PdfValueTest, FetchWithoutTableCopiesTheReference) {
    PdfValue ref;
    ref.initRef(5, 2);
    PdfValue out;
    ref.fetch(nullptr, out);
    ASSERT_TRUE(out.isRef());
    EXPECT_EQ(5, out.getRefNum());
    EXPECT_EQ(2, out.getRefGen());
}

TEST(PdfArrayTest, IndexOutsideTheArrayGivesNull) {
    PdfValue v;
    v.initArray(nullptr);
    v.getArray()->add(integer(1));
    PdfValue out;
    EXPECT_TRUE(v.getArray()->get(-1, out).isNull());
    EXPECT_TRUE(v.getArray()->get(1, out).isNull());
    EXPECT_TRUE(v.getArray()->getRaw(-1, out).isNull());
    EXPECT_TRUE(v.getArray()->getRaw(1, out).isNull());
    EXPECT_EQ(1, v.getArray()->getRaw(0, out).getInt());
}

TEST(PdfArrayTest, GrowsToEightThenDoubles) {
    PdfValue v;
    v.initArray(nullptr);
    PdfArray* array = v.getArray();
    EXPECT_EQ(0, array->getCapacity());
    array->add(integer(0));
    EXPECT_EQ(8, array->getCapacity());
    for (int i = 1; i < 8; ++i)
        array->add(integer(i));
    EXPECT_EQ(8, array->getCapacity());
    array->add(integer(8));
    EXPECT_EQ(16, array->getCapacity());
    PdfValue out;
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(i, array->get(i, out).getInt());
}

TEST(PdfDictTest, DuplicateKeyFindsTheFirstEntry) {
    PdfValue v;
    v.initDict(nullptr);
    v.getDict()->add(copyString("K"), integer(1));
    v.getDict()->add(copyString("K"), integer(2));
    PdfValue out;
    EXPECT_EQ(1, v.getDict()->lookup("K", out).getInt());
    EXPECT_EQ(1, v.getDict()->lookupRaw("K", out).getInt());
    EXPECT_EQ(2, v.getDict()->getLength());
    EXPECT_TRUE(v.getDict()->lookup("Missing", out).isNull());
}

TEST(PdfDictTest, TypeTestDoesNotFollowReferences) {
    PdfValue direct;
    direct.initDict(nullptr);
    direct.getDict()->add(copyString("Type"), name("Page"));
    EXPECT_TRUE(direct.getDict()->isType("Page"));
    EXPECT_TRUE(direct.isDict("Page"));
    EXPECT_FALSE(direct.getDict()->isType("Pages"));

    PdfValue indirect;
    indirect.initDict(nullptr);
    PdfValue ref;
    ref.initRef(3, 0);
    indirect.getDict()->add(copyString("Type"), std::move(ref));
    EXPECT_FALSE(indirect.getDict()->isType("Page"));

    PdfValue empty;
    empty.initDict(nullptr);
    EXPECT_FALSE(empty.getDict()->isType("Page"));
}

TEST(PdfDictTest, IterationKeepsInsertionOrder) {
    PdfValue v;
    v.initDict(nullptr);
    const char* keys[] = {"Z", "A", "M"};
    for (int i = 0; i < 3; ++i)
        v.getDict()->add(copyString(keys[i]), integer(i));
    PdfValue out;
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(keys[i], v.getDict()->keyAt(i));
        EXPECT_EQ(i, v.getDict()->rawValueAt(i, out).getInt());
    }
}

TEST(PdfDictTest, SharedDictionaryLivesWhileAnyValueHoldsIt) {
    PdfValue a;
    a.initDict(nullptr);
    PdfDict* dict = a.getDict();
    PdfValue b;
    b.initDictRef(dict);
    EXPECT_EQ(2, dict->refCount());
    a.free();
    EXPECT_EQ(1, dict->refCount());
    b.free();  // deleted here; LeakSanitizer checks nothing is left
}

TEST(PdfValueTest, PrintsDocumentSyntax) {
    PdfValue v;
    v.initDict(nullptr);
    v.getDict()->add(copyString("Type"), name("Page"));
    PdfValue array;
    array.initArray(nullptr);
    array.getArray()->add(integer(0));
    PdfValue real;
    real.initReal(1.5);
    array.getArray()->add(std::move(real));
    PdfValue ref;
    ref.initRef(4, 0);
    array.getArray()->add(std::move(ref));
    PdfValue text;
    text.initString(new DynString("a(b)"));
    array.getArray()->add(std::move(text));
    v.getDict()->add(copyString("Kids"), std::move(array));
    EXPECT_EQ("<< /Type /Page /Kids [0 1.5 4 0 R (a\\(b\\))] >>", printed(v));
}

}  // namespace
}  // namespace rendova
