// A chunk is written whole even when the system takes it in pieces, and a stalled or failed
// write is never mistaken for success.
#include "payload/complete_write.h"

#include <gtest/gtest.h>

#include <string>

namespace osvari {
namespace {

struct FakeFile {
  std::string contents;
  std::uint32_t most_per_call;
  int calls_before_failure = -1;  // -1: never fails
  int calls = 0;

  WriteCall call() {
    return [this](const unsigned char* data, std::uint32_t length, std::uint32_t& written) {
      if (calls++ == calls_before_failure) return false;
      written = std::min(length, most_per_call);
      contents.append(reinterpret_cast<const char*>(data), written);
      return true;
    };
  }
};

const std::string chunk = "0123456789abcdefghij";
const auto* chunk_bytes = reinterpret_cast<const unsigned char*>(chunk.data());
const auto chunk_size = static_cast<std::uint32_t>(chunk.size());

TEST(WriteCompletely, TakesEveryByteInOrderWhateverTheSystemTakesPerCall) {
  for (const std::uint32_t most : {1u, 3u, 19u, 20u, 1000u}) {
    FakeFile file{.contents = {}, .most_per_call = most};
    EXPECT_TRUE(write_completely(chunk_bytes, chunk_size, file.call())) << most;
    EXPECT_EQ(file.contents, chunk) << most;
  }
}

TEST(WriteCompletely, StopsWhenACallTakesNothing) {
  FakeFile file{.contents = {}, .most_per_call = 0};
  EXPECT_FALSE(write_completely(chunk_bytes, chunk_size, file.call()));
  EXPECT_EQ(file.calls, 1);
}

TEST(WriteCompletely, StopsAtAFailedCallAfterAShortWrite) {
  FakeFile file{.contents = {}, .most_per_call = 7, .calls_before_failure = 1};
  EXPECT_FALSE(write_completely(chunk_bytes, chunk_size, file.call()));
  EXPECT_EQ(file.contents, chunk.substr(0, 7));
  EXPECT_EQ(file.calls, 2);
}

}  // namespace
}  // namespace osvari
