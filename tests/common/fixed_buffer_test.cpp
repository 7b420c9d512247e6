// Tests of the bounded copy, append and format helpers and of the leading-integer reader.
#include "common/fixed_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

// A heap buffer of exactly `size` bytes holding `text`, so a write past the end is caught.
std::vector<char> Holding(const std::string& text, std::size_t size) {
  std::vector<char> buffer(size, '#');
  for (std::size_t i = 0; i < text.size() && i + 1 < size; ++i) buffer[i] = text[i];
  buffer[std::min(text.size(), size - 1)] = '\0';
  return buffer;
}

}  // namespace

TEST(FixedBufferTest, CopyTextFitsWithTerminatorOrLeavesBufferUntouched) {
  std::vector<char> exact = Holding("old", 6);
  EXPECT_TRUE(CopyText(exact.data(), exact.size(), "12345"));
  EXPECT_EQ(std::string(exact.data()), "12345");

  std::vector<char> oneShort = Holding("old", 5);
  const std::vector<char> before = oneShort;
  EXPECT_FALSE(CopyText(oneShort.data(), oneShort.size(), "12345"));
  EXPECT_EQ(oneShort, before);
  EXPECT_FALSE(CopyText(oneShort.data(), oneShort.size(), nullptr));
  EXPECT_EQ(oneShort, before);
  EXPECT_FALSE(CopyText(nullptr, 5, "x"));

  char array[4] = "ab";
  EXPECT_FALSE(CopyText(array, "abcd"));
  EXPECT_EQ(std::string(array), "ab");
  EXPECT_TRUE(CopyText(array, "xyz"));
  EXPECT_EQ(std::string(array), "xyz");
}

TEST(FixedBufferTest, AppendTextOnlyWhenTheWholeResultFits) {
  std::vector<char> exact = Holding("ab", 5);
  EXPECT_TRUE(AppendText(exact.data(), exact.size(), "cd"));
  EXPECT_EQ(std::string(exact.data()), "abcd");

  std::vector<char> oneShort = Holding("ab", 4);
  const std::vector<char> before = oneShort;
  EXPECT_FALSE(AppendText(oneShort.data(), oneShort.size(), "cd"));
  EXPECT_EQ(oneShort, before);
}

TEST(FixedBufferTest, FormatTextThatDoesNotFitLeavesEmptyString) {
  std::vector<char> exact = Holding("old", 12);
  EXPECT_TRUE(FormatText(exact.data(), exact.size(), "tamcomp%d-%s", 12, "x"));
  EXPECT_EQ(std::string(exact.data()), "tamcomp12-x");

  std::vector<char> oneShort = Holding("old", 11);
  EXPECT_FALSE(FormatText(oneShort.data(), oneShort.size(), "tamcomp%d-%s", 12, "x"));
  EXPECT_EQ(oneShort[0], '\0');
}

TEST(FixedBufferTest, ReadLeadingIntReadsLikeAtoiWithoutOverflow) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"42", 42},
      {"  \t\n7abc", 7},
      {"-15", -15},
      {"+8", 8},
      {"", 0},
      {"abc12", 0},
      {"- 5", 0},
      {"--5", 0},
      {"0012", 12},
      {"2147483647", INT_MAX},
      {"99999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-99999999999999999999", INT_MIN},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadLeadingInt(c.text), c.expected) << "\"" << c.text << "\"";
  }
}
