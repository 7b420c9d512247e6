// The conversion of UTF-8 texts from outside the program into the log's Windows-1252 (POSIX).
#include "log/log_text.h"

#include <gtest/gtest.h>

#include <string>

TEST(LogTextTest, Utf8BecomesWindows1252AndWhatItCannotHoldBecomesAQuestionMark) {
  struct Case {
    const char* text;
    const char* logged;
  };
  const Case cases[] = {
      {"http://h/a.xml?x=1&y=2", "http://h/a.xml?x=1&y=2"},
      {"versi\xC3\xB3n", "versi\xF3n"},
      {"5 \xE2\x82\xAC", "5 \x80"},            // in Windows-1252 though not in Latin-1
      {"\xCE\xA9 \xF0\x9F\x98\x80.", "? ?."},  // lacking: one '?' per character
      {"Versi\xF3n", "Versi?n"},               // a stray byte that is not UTF-8
      {"ab\xC3", "ab?"},                       // a character cut short at the end
      {"\xC3\xB3\xC3", "\xF3?"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ToLogEncoding(c.text), c.logged);
  }
  EXPECT_EQ(ToLogEncoding(nullptr), "");

  // Longer than any internal chunk, with a replacement on each side of a chunk boundary.
  std::string longText;
  std::string longLogged;
  for (int i = 0; i < 700; ++i) {
    longText += i % 50 == 0 ? "\xCE\xA9" : "\xC3\xB3";
    longLogged += i % 50 == 0 ? '?' : '\xF3';
  }
  EXPECT_EQ(ToLogEncoding(longText.c_str()), longLogged);
}
