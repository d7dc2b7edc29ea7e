// The cache index as osvari-pack writes it and the launcher reads it, and the records the
// launcher must refuse or pass over.
#include "payload/cache_index.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/payload_builder.h"
#include "tools/pack/attached_data/cache_index_writer.h"

namespace osvari {
namespace {

CacheIndexResult read(const std::string& stream) {
  return read_cache_index(reinterpret_cast<const unsigned char*>(stream.data()), stream.size());
}

std::string index_frame(const std::vector<pack::IndexedEntry>& entries, std::string_view id = "0123456789abcdef") {
  return pack::cache_index_frame(id, entries);
}

const std::vector<pack::IndexedEntry> two_entries{{u"main.dll", 4096}, {u"data\\\u00e9t\u00e9.txt", 0x1'0000'0001}};

TEST(CacheIndex, ReadsWhatThePackingToolWrites) {
  const CacheIndexResult result = read(index_frame(two_entries) + "frame bytes that follow");
  ASSERT_EQ(result.status, CacheIndexStatus::present);
  EXPECT_EQ(result.index.id, L"0123456789abcdef");
  ASSERT_EQ(result.index.entries.size(), 2u);
  EXPECT_EQ(result.index.entries[0].name, L"main.dll");
  EXPECT_EQ(result.index.entries[0].size, 4096u);
  EXPECT_EQ(result.index.entries[1].name, L"data\\\u00e9t\u00e9.txt");
  EXPECT_EQ(result.index.entries[1].size, 0x1'0000'0001u);
}

TEST(CacheIndex, TheIdNamesTheStreamAfterIt) {
  EXPECT_EQ(pack::attached_data_id(""), "cbf29ce484222325");  // the FNV-1a offset basis
  EXPECT_EQ(pack::attached_data_id("a"), "af63dc4c8601ec8c");
  EXPECT_NE(pack::attached_data_id("stream one"), pack::attached_data_id("stream two"));
}

// Replaces `count` bytes at `at`.
std::string patched(std::string bytes, std::size_t at, std::string_view with) {
  return bytes.replace(at, with.size(), with);
}

struct RecordCase {
  const char* label;
  std::string stream;
  CacheIndexStatus expected;
};

std::vector<RecordCase> record_cases() {
  const std::string good = index_frame(two_entries);
  // Bytes: magic 0-3, size 4-7, tag 8-11, version 12, id 13-28, count 29-32, first name length 33-34.
  return {
      {"plain_frame", testing::attached_data_for({{u"main.dll", "x"}}).substr(3), CacheIndexStatus::absent},
      {"empty", "", CacheIndexStatus::absent},
      {"magic_alone", good.substr(0, 4), CacheIndexStatus::absent},
      {"other_skippable_frame", patched(good, 8, "ABCD"), CacheIndexStatus::absent},
      {"cut_inside_the_record", good.substr(0, good.size() - 1), CacheIndexStatus::malformed},
      {"size_past_the_end", patched(good, 4, std::string("\xff\xff\x00\x00", 4)), CacheIndexStatus::malformed},
      {"size_below_the_tag", patched(good, 4, std::string("\x02\x00\x00\x00", 4)), CacheIndexStatus::malformed},
      {"other_version", patched(good, 12, "\x02"), CacheIndexStatus::malformed},
      {"upper_case_id", index_frame(two_entries, "0123456789ABCDEF"), CacheIndexStatus::malformed},
      {"id_with_a_separator", index_frame(two_entries, "01234567\\9abcdef"), CacheIndexStatus::malformed},
      {"no_entries", index_frame({}), CacheIndexStatus::malformed},
      {"count_beyond_the_record", patched(good, 29, std::string("\x03\x00\x00\x00", 4)), CacheIndexStatus::malformed},
      {"huge_count", patched(good, 29, std::string("\xff\xff\xff\x7f", 4)), CacheIndexStatus::malformed},
      {"count_short_of_the_record", patched(good, 29, std::string("\x01\x00\x00\x00", 4)),
       CacheIndexStatus::malformed},
      {"name_leaving_the_folder", index_frame({{u"..\\escaped.dll", 1}}), CacheIndexStatus::malformed},
      {"empty_name", index_frame({{u"", 1}}), CacheIndexStatus::malformed},
      {"device_name", index_frame({{u"main.dll", 1}, {u"NUL", 1}}), CacheIndexStatus::malformed},
      {"good", good, CacheIndexStatus::present},
  };
}

class CacheIndexRecords : public ::testing::TestWithParam<RecordCase> {};

TEST_P(CacheIndexRecords, AreReadOrRefused) {
  EXPECT_EQ(read(GetParam().stream).status, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Records, CacheIndexRecords, ::testing::ValuesIn(record_cases()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace osvari
