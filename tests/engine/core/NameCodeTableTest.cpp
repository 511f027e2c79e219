#include "engine/core/NameCodeTable.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace rendova {
namespace {

TEST(NameCodeTableTest, FindsEveryRecord) {
    static NameCodeRecord records[] = {{"space", 32, nullptr},
                                       {"A", 65, nullptr},
                                       {"B", 66, nullptr},
                                       {"quotesingle", 39, nullptr},
                                       {"Euro", 0x20ac, nullptr}};
    NameCodeTable table;
    table.build(records, 5);
    uint16_t code = 0;
    EXPECT_EQ(table.lookup("Euro", &code), 1);
    EXPECT_EQ(code, 0x20ac);
    EXPECT_EQ(table.lookup("space", &code), 1);
    EXPECT_EQ(code, 32);
    code = 7;
    EXPECT_EQ(table.lookup("C", &code), 0);
    EXPECT_EQ(code, 7);
}

TEST(NameCodeTableTest, LastRecordOfEqualNamesIsFoundFirst) {
    NameCodeRecord records[] = {{"dup", 1, nullptr}, {"other", 2, nullptr}, {"dup", 3, nullptr}};
    NameCodeTable table;
    table.build(records, 3);
    uint16_t code = 0;
    EXPECT_EQ(table.lookup("dup", &code), 1);
    EXPECT_EQ(code, 3);
}

TEST(NameCodeTableTest, TableOfNoRecordsFindsNothing) {
    NameCodeTable empty;
    uint16_t code = 0;
    EXPECT_EQ(empty.lookup("A", &code), 0);
    NameCodeRecord record{"A", 65, nullptr};
    NameCodeTable built;
    built.build(&record, 0);
    EXPECT_EQ(built.lookup("A", &code), 0);
}

TEST(NameCodeTableTest, RebuildingReplacesTheBuckets) {
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i)
        names.push_back("uni" + std::to_string(i));
    std::vector<NameCodeRecord> records;
    for (int i = 0; i < 300; ++i)
        records.push_back({names[i].c_str(), static_cast<uint16_t>(i), nullptr});
    NameCodeTable table;
    table.build(records.data(), 10);
    uint16_t code = 0;
    EXPECT_EQ(table.lookup("uni20", &code), 0);
    table.build(records.data(), 300);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(table.lookup(names[i].c_str(), &code), 1);
        EXPECT_EQ(code, i);
    }
}

}  // namespace
}  // namespace rendova
