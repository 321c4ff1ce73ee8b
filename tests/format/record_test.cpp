// Record framing, typed reads and the tag search.
#include "format/record.h"

#include <gtest/gtest.h>

#include <string>

#include "support/record_fixture.h"
#include "writer/records.h"

namespace qv::format {
namespace {

using qvtest::RecordFile;
using qvw::FileWriter;
using qvw::Record;

std::int32_t next_int(RecordReader& r) {
    std::int32_t v = -99;
    EXPECT_TRUE(r.int32(v));
    return v;
}

TEST(RecordRead, BigEndianItemsConvertToHostValues) {
    FileWriter w;
    w.raw({0, 0, 0, 4, 0x00, 0x00, 0x01, 0x2C, 0, 0, 0, 4});
    w.record(Record().i32(-2).f32(-1.5f).text("abc", 6).i32(7)).record(Record());
    RecordFile f(w.bytes());
    RecordReader& r = f.reader();
    EXPECT_EQ(next_int(r), 300);

    RecordData data;
    ASSERT_EQ(r.record(data), Status::ok);
    EXPECT_EQ(data.size(), 18u);
    EXPECT_EQ(data.int32(), -2);
    EXPECT_EQ(data.real32(), -1.5f);
    EXPECT_EQ(data.text(6), "abc   ");
    EXPECT_EQ(data.int32(), 7);
    EXPECT_FALSE(data.failed());
    EXPECT_EQ(data.int32(), 0);
    EXPECT_TRUE(data.failed());

    ASSERT_EQ(r.record(data), Status::ok);  // an empty record is a record
    EXPECT_EQ(data.size(), 0u);
    EXPECT_EQ(r.record(data), Status::end);
    EXPECT_EQ(r.record(data), Status::end);
    r.rewind();
    EXPECT_EQ(next_int(r), 300);
}

TEST(RecordRead, EachReadConsumesExactlyOneRecord) {
    FileWriter w;
    w.ints({1, 2, 3}).ints({4}).ints({5}).ints({6, 7}).ints({8});
    RecordFile f(w.bytes());
    RecordReader& r = f.reader();
    // Longer than the items: the rest is passed over.
    EXPECT_EQ(next_int(r), 1);
    EXPECT_EQ(next_int(r), 4);
    // Shorter than the items: the read fails, but the record is gone.
    std::int32_t pair[2] = {0, 0};
    EXPECT_FALSE(r.ints(pair, 2));
    ASSERT_TRUE(r.ints(pair, 2));
    EXPECT_EQ(pair[1], 7);
    // The same through the status read of a fixed-length prefix.
    char field[50];
    EXPECT_EQ(r.prefix(field, sizeof field), Status::damaged);
    EXPECT_EQ(r.prefix(field, 0), Status::end);
}

// Records shorter than a tag (8 bytes, 49 characters) are passed over; a
// 50-character field decides, whatever follows it in the record.
TEST(TagSearch, MatchesTheFiftyCharacterFieldWithOneRewind) {
    FileWriter w;
    w.ints({1, 2}).record(Record().text("<Model>", 49)).tag("<Model>").ints({1});
    w.record(Record().text("<Model>", 50).i32(123).text("tail", 20)).ints({2});
    w.record(Record().text("<Model>x", 50)).ints({3}).tag("<Node>").ints({4});
    RecordFile f(w.bytes());
    RecordReader& r = f.reader();

    ASSERT_EQ(r.find_tag("<Node>"), Status::ok);
    EXPECT_EQ(next_int(r), 4);
    ASSERT_EQ(r.find_tag("<Model>"), Status::ok);  // behind the position: one rewind
    EXPECT_EQ(next_int(r), 1);
    ASSERT_EQ(r.find_tag("<Model>"), Status::ok);
    EXPECT_EQ(next_int(r), 2);
    ASSERT_EQ(r.find_tag("<Model>"), Status::ok);  // "<Model>x" is another tag
    EXPECT_EQ(next_int(r), 1);

    EXPECT_EQ(r.find_tag("<Materials>"), Status::section_missing);
    EXPECT_EQ(r.bytes_left(), 0u);
    EXPECT_EQ(r.find_tag("<Model>"), Status::ok);

    RecordFile empty({});
    EXPECT_EQ(empty.reader().find_tag("<Node>"), Status::section_missing);
}

// Where a question first met damage: the start of the record that was cut
// or framed wrongly, and nothing once a new question starts.
TEST(DamageOffset, TheFirstDamagedRecordOfTheQuestion) {
    FileWriter w;
    w.ints({1, 2}).ints({3});  // 12 + 16 bytes: the third record starts at 28
    std::vector<std::uint8_t> bytes = w.bytes();
    const std::vector<std::uint8_t> good = {0, 0, 0, 4, 0, 0, 0, 9, 0, 0, 0, 4};
    std::vector<std::uint8_t> bad_tail = {0, 0, 0, 4, 0, 0, 0, 9, 0, 0, 0, 5};
    bytes.insert(bytes.end(), good.begin(), good.end());          // at 28
    bytes.insert(bytes.end(), bad_tail.begin(), bad_tail.end());  // at 40
    bytes.insert(bytes.end(), {0, 0, 0, 40, 1, 2});               // at 52, cut
    RecordFile f(bytes);
    RecordReader& r = f.reader();
    std::int32_t v = 0;
    EXPECT_EQ(r.failure().offset, -1);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(r.int32(v));
    EXPECT_EQ(r.failure().offset, -1);
    EXPECT_FALSE(r.int32(v));  // a trailing length that differs
    EXPECT_EQ(r.failure().offset, 40);
    EXPECT_FALSE(r.int32(v));  // cut: later damage does not move the first
    EXPECT_EQ(r.failure().offset, 40);
    r.forget_damage();
    EXPECT_EQ(r.failure().offset, -1);
    r.seek(52);
    EXPECT_FALSE(r.int32(v));
    EXPECT_EQ(r.failure().offset, 52);
}

}  // namespace
}  // namespace qv::format
