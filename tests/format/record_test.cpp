// Record framing, typed reads and the tag search.
#include "format/record.h"

#include <gtest/gtest.h>

#include <string>

#include "format/tag_search.h"
#include "model/store.h"
#include "support/unit_fixture.h"
#include "writer/records.h"

namespace qv::format {
namespace {

using qvtest::UnitFile;
using qvw::FileWriter;
using qvw::Record;

std::int32_t next_int(runtime::Connection& c) {
    std::int32_t v = -99;
    EXPECT_TRUE(read_int(c, v));
    return v;
}

TEST(RecordRead, BigEndianItemsConvertToHostValues) {
    FileWriter w;
    w.raw({0, 0, 0, 4, 0x00, 0x00, 0x01, 0x2C, 0, 0, 0, 4});
    w.record(Record().i32(-2).f32(-1.5f).text("abc", 6).i32(7)).record(Record());
    UnitFile f(w.bytes());
    auto& c = f.connection();
    EXPECT_EQ(next_int(c), 300);

    RecordData data;
    ASSERT_EQ(read_record(c, data), kReadOk);
    EXPECT_EQ(data.size(), 18u);
    EXPECT_EQ(data.int32(), -2);
    EXPECT_EQ(data.real32(), -1.5f);
    EXPECT_EQ(data.text(6), "abc   ");
    EXPECT_EQ(data.int32(), 7);
    EXPECT_FALSE(data.failed());
    EXPECT_EQ(data.int32(), 0);
    EXPECT_TRUE(data.failed());

    ASSERT_EQ(read_record(c, data), kReadOk);  // an empty record is a record
    EXPECT_EQ(data.size(), 0u);
    EXPECT_EQ(read_record(c, data), kReadEnd);
    EXPECT_EQ(read_record(c, data), kReadEnd);
    rewind(c);
    EXPECT_EQ(next_int(c), 300);
}

TEST(RecordRead, EachReadConsumesExactlyOneRecord) {
    FileWriter w;
    w.ints({1, 2, 3}).ints({4}).ints({5}).ints({6, 7}).ints({8});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    // Longer than the items: the rest is passed over.
    EXPECT_EQ(next_int(c), 1);
    EXPECT_EQ(next_int(c), 4);
    // Shorter than the items: the read fails, but the record is gone.
    std::int32_t pair[2] = {0, 0};
    EXPECT_FALSE(read_ints(c, pair, 2));
    ASSERT_TRUE(read_ints(c, pair, 2));
    EXPECT_EQ(pair[1], 7);
    // The same through the status read of a fixed-length prefix.
    char field[50];
    EXPECT_EQ(read_record_prefix(c, field, sizeof field), kReadError);
    EXPECT_EQ(read_record_prefix(c, field, 0), kReadEnd);
}

std::string message() { return std::string(model::store().message.view()); }

std::string missing(const std::string& tag) {
    std::string s = "Could not find search string (" + tag + ") in results file";
    s.resize(200, ' ');
    return s;
}

// Records shorter than a tag (8 bytes, 49 characters) are passed over; a
// 50-character field decides, whatever follows it in the record.
TEST(TagSearch, MatchesTheFiftyCharacterFieldWithOneRewind) {
    FileWriter w;
    w.ints({1, 2}).record(Record().text("<Model>", 49)).tag("<Model>").ints({1});
    w.record(Record().text("<Model>", 50).i32(123).text("tail", 20)).ints({2});
    w.record(Record().text("<Model>x", 50)).ints({3}).tag("<Node>").ints({4});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    model::store().message.assign("");

    ASSERT_EQ(find_tag(c, "<Node>"), 0);
    EXPECT_EQ(next_int(c), 4);
    ASSERT_EQ(find_tag(c, "<Model>"), 0);  // behind the position: one rewind
    EXPECT_EQ(next_int(c), 1);
    ASSERT_EQ(find_tag(c, "<Model>"), 0);
    EXPECT_EQ(next_int(c), 2);
    ASSERT_EQ(find_tag(c, "<Model>"), 0);  // "<Model>x" is another tag
    EXPECT_EQ(next_int(c), 1);
    EXPECT_EQ(message(), std::string(200, ' '));

    EXPECT_EQ(find_tag(c, "<Materials>"), 1);
    EXPECT_EQ(message(), missing("<Materials>"));
    EXPECT_EQ(bytes_left(c), 0u);
    // A later successful search leaves the message alone.
    EXPECT_EQ(find_tag(c, "<Model>"), 0);
    EXPECT_EQ(message(), missing("<Materials>"));

    UnitFile empty({});
    EXPECT_EQ(find_tag(empty.connection(), "<Node>"), 1);
    EXPECT_EQ(message(), missing("<Node>"));
}

}  // namespace
}  // namespace qv::format
