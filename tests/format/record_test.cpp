// Record framing, typed reads and the tag search.
#include "format/record.h"

#include <gtest/gtest.h>

#include <cstring>
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

TEST(RecordRead, BigEndianItemsConvertToHostValues) {
    FileWriter w;
    w.raw({0, 0, 0, 4, 0x00, 0x00, 0x01, 0x2C, 0, 0, 0, 4});
    w.record(Record().i32(-2).f32(-1.5f).text("abc", 6).i32(7));
    UnitFile f(w.bytes());

    std::int32_t v = 0;
    ASSERT_TRUE(read_int(f.connection(), v));
    EXPECT_EQ(v, 300);

    RecordData data;
    ASSERT_EQ(read_record(f.connection(), data), kReadOk);
    EXPECT_EQ(data.size(), 18u);
    EXPECT_EQ(data.int32(), -2);
    EXPECT_EQ(data.real32(), -1.5f);
    EXPECT_EQ(data.text(6), "abc   ");
    EXPECT_EQ(data.int32(), 7);
    EXPECT_FALSE(data.failed());
    EXPECT_EQ(data.int32(), 0);
    EXPECT_TRUE(data.failed());
}

TEST(RecordRead, EachReadConsumesExactlyOneRecord) {
    FileWriter w;
    w.ints({1, 2, 3}).ints({4}).ints({5}).ints({6, 7}).ints({8});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    std::int32_t v = 0, pair[2] = {0, 0};

    // Longer than the items: the rest is passed over.
    ASSERT_TRUE(read_int(c, v));
    EXPECT_EQ(v, 1);
    ASSERT_TRUE(read_int(c, v));
    EXPECT_EQ(v, 4);

    // Shorter than the items: the read fails, but the record is gone.
    EXPECT_FALSE(read_ints(c, pair, 2));
    ASSERT_TRUE(read_ints(c, pair, 2));
    EXPECT_EQ(pair[0], 6);
    EXPECT_EQ(pair[1], 7);

    // The same through the status read of a fixed-length prefix.
    char field[50];
    EXPECT_EQ(read_record_prefix(c, field, sizeof field), kReadError);
    EXPECT_EQ(read_record_prefix(c, field, 0), kReadEnd);
}

TEST(RecordRead, EndOfFileAndRewind) {
    FileWriter w;
    w.ints({10}).ints({20});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    std::int32_t v = 0;
    ASSERT_TRUE(read_int(c, v));
    EXPECT_EQ(skip_record(c), kReadOk);
    RecordData data;
    EXPECT_EQ(read_record(c, data), kReadEnd);
    EXPECT_EQ(read_record(c, data), kReadEnd);

    rewind(c);
    ASSERT_TRUE(read_int(c, v));
    EXPECT_EQ(v, 10);
}

TEST(RecordRead, EmptyRecordIsARecord) {
    FileWriter w;
    w.record(Record()).ints({9});
    UnitFile f(w.bytes());
    RecordData data;
    ASSERT_EQ(read_record(f.connection(), data), kReadOk);
    EXPECT_EQ(data.size(), 0u);
    std::int32_t v = 0;
    ASSERT_TRUE(read_int(f.connection(), v));
    EXPECT_EQ(v, 9);
}

// The tag search.

std::string message() { return std::string(model::store().message.view()); }

std::string padded(std::string s, std::size_t n) {
    s.resize(n, ' ');
    return s;
}

TEST(TagSearch, FindsATagBehindThePositionAfterOneRewind) {
    FileWriter w;
    w.tag("<Model>").ints({1}).tag("<Materials>").ints({2}).tag("<Node>").ints({3});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    std::int32_t v = 0;
    ASSERT_EQ(find_tag(c, "<Node>"), 0);
    ASSERT_TRUE(read_int(c, v));
    EXPECT_EQ(v, 3);

    ASSERT_EQ(find_tag(c, "<Materials>"), 0);
    ASSERT_TRUE(read_int(c, v));
    EXPECT_EQ(v, 2);
}

TEST(TagSearch, PassesOverRecordsShorterThanATag) {
    FileWriter w;
    w.ints({1, 2}).record(Record().text("<Model>", 49)).tag("<Model>").ints({9});
    UnitFile f(w.bytes());
    ASSERT_EQ(find_tag(f.connection(), "<Model>"), 0);
    std::int32_t v = 0;
    ASSERT_TRUE(read_int(f.connection(), v));
    EXPECT_EQ(v, 9);
}

TEST(TagSearch, ComparesTheFirstFiftyCharactersOnly) {
    FileWriter w;
    w.record(Record().text("<Model>", 50)).ints({1});
    w.record(Record().text("<Model>", 50).i32(123).text("tail", 20)).ints({2});
    w.record(Record().text("<Model>x", 50)).ints({3});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    std::int32_t v = 0;

    ASSERT_EQ(find_tag(c, "<Model>"), 0);
    ASSERT_TRUE(read_int(c, v));
    EXPECT_EQ(v, 1);
    // More data after the tag field: still the tag.
    ASSERT_EQ(find_tag(c, "<Model>"), 0);
    ASSERT_TRUE(read_int(c, v));
    EXPECT_EQ(v, 2);
    // "<Model>x" is another tag: the search wraps around to the first.
    ASSERT_EQ(find_tag(c, "<Model>"), 0);
    ASSERT_TRUE(read_int(c, v));
    EXPECT_EQ(v, 1);
}

TEST(TagSearch, MissingTagReportsAndEndsAtTheEndOfTheFile) {
    model::store().message.assign("");
    FileWriter w;
    w.tag("<Model>").ints({1, 2}).tag("<Parts>").ints({3});
    UnitFile f(w.bytes());
    auto& c = f.connection();
    ASSERT_EQ(find_tag(c, "<Parts>"), 0);

    EXPECT_EQ(find_tag(c, "<Materials>"), 1);
    EXPECT_EQ(message(),
              padded("Could not find search string (<Materials>) in results file", 200));
    EXPECT_EQ(bytes_left(c), 0u);

    // A later successful search leaves the message alone.
    EXPECT_EQ(find_tag(c, "<Model>"), 0);
    EXPECT_EQ(message(),
              padded("Could not find search string (<Materials>) in results file", 200));
}

TEST(TagSearch, EmptyFileHasNoTags) {
    UnitFile f({});
    EXPECT_EQ(find_tag(f.connection(), "<Node>"), 1);
    EXPECT_EQ(message(), padded("Could not find search string (<Node>) in results file", 200));
}

}  // namespace
}  // namespace qv::format
