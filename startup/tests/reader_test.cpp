#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "startup/settings.h"
#include "test_util.h"

namespace zbx {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;
Pairs g_seen;

void record(const char* key, const char* value) { g_seen.emplace_back(key, value); }

Pairs read(const std::string& text) {
  g_seen.clear();
  std::FILE* f = test::stream_of(text);
  EXPECT_NE(f, nullptr);
  read_settings_file(f, record);
  std::fclose(f);
  return g_seen;
}

TEST(Reader, PlainPairsInFileOrder) {
  EXPECT_EQ(read("A=1\nB=two\n"), (Pairs{{"A", "1"}, {"B", "two"}}));
}

TEST(Reader, LastLineWithoutNewlineIsDropped) {
  EXPECT_EQ(read("A=1\nB=2"), (Pairs{{"A", "1"}}));
  EXPECT_EQ(read("A=1\nB="), (Pairs{{"A", "1"}}));
  EXPECT_EQ(read("A=1\nB"), (Pairs{{"A", "1"}}));
}

TEST(Reader, EmptyValueSwallowsTheNextLine) {
  // The second line becomes A's value, cut at its "=".
  EXPECT_EQ(read("A=\nB=2\nC=3\n"), (Pairs{{"A", "B"}, {"C", "3"}}));
}

TEST(Reader, ValueStartingWithEqualsIsEmpty) {
  EXPECT_EQ(read("A==5\nB=1\n"), (Pairs{{"A", ""}, {"B", "1"}}));
}

TEST(Reader, LeadingEqualsDoesNotEndTheKey) {
  // The key runs on to the next "=", over the line end, and is cut at its
  // leading "="; the value follows that second "=".
  EXPECT_EQ(read("=A\nB=2\nC=3\n"), (Pairs{{"", "2"}, {"C", "3"}}));
}

TEST(Reader, CommentsAndBlanksBetweenPairs) {
  EXPECT_EQ(read("# one\n\n  ; two\n\t/ three\nA=1\n   B = 2\n"), (Pairs{{"A", "1"}, {"B", "2"}}));
}

TEST(Reader, CommentStarterWhereValueBeginsOpensAComment) {
  EXPECT_EQ(read("A=#x\n5\n"), (Pairs{{"A", "5"}}));
  EXPECT_EQ(read("A=/x\n;y\n7 trailing\n"), (Pairs{{"A", "7"}}));
}

TEST(Reader, ValueIsOneWordAndCutAtTerminators) {
  EXPECT_EQ(read("A=abc def\nB=x#y\nC=p;q\nD=u/v\nE=m=n\n"),
            (Pairs{{"A", "abc"}, {"B", "x"}, {"C", "p"}, {"D", "u"}, {"E", "m"}}));
}

TEST(Reader, KeyCutAtBlankOrCommentStarterBeforeEquals) {
  EXPECT_EQ(read("SCREEN_WIDTH =800\nKEY#c=1\n"), (Pairs{{"SCREEN_WIDTH", "800"}, {"KEY", "1"}}));
}

TEST(Reader, ValueMayStandOnALaterLine) { EXPECT_EQ(read("A=\n\n  42\n"), (Pairs{{"A", "42"}})); }

TEST(Reader, CarriageReturnStaysInTheValue) {
  EXPECT_EQ(read("A=abc\r\nB=1 \r\n"), (Pairs{{"A", "abc\r"}, {"B", "1"}}));
  // A line that is only "\r\n" starts a key, which runs to the next "=".
  EXPECT_EQ(read("A=1\r\n\r\nB=2\r\n"), (Pairs{{"A", "1\r"}, {"\r", "2\r"}}));
}

TEST(Reader, OverLongKeyEndsReading) {
  std::string key79(79, 'K');
  std::string key80(80, 'K');
  EXPECT_EQ(read("A=1\n" + key79 + "=v\nB=2\n"), (Pairs{{"A", "1"}, {key79, "v"}, {"B", "2"}}));
  EXPECT_EQ(read("A=1\n" + key80 + "=v\nB=2\n"), (Pairs{{"A", "1"}}));
  // A key line without any "=" runs to the end of the file.
  EXPECT_EQ(read("A=1\nNOEQUALS\n"), (Pairs{{"A", "1"}}));
}

TEST(Reader, OverLongValueEndsReading) {
  std::string value79(79, 'v');
  std::string value80(80, 'v');
  EXPECT_EQ(read("A=" + value79 + "\nB=2\n"), (Pairs{{"A", value79}, {"B", "2"}}));
  EXPECT_EQ(read("A=" + value80 + "\nB=2\n"), (Pairs{}));
  // Even when the word is short, the whole line must fit the buffer.
  EXPECT_EQ(read("A=1 " + std::string(80, ' ') + "\nB=2\n"), (Pairs{}));
}

TEST(Reader, CommentRunningToEndOfFile) {
  EXPECT_EQ(read("A=1\n# no newline"), (Pairs{{"A", "1"}}));
  EXPECT_EQ(read("A=#"), (Pairs{}));
}

TEST(Reader, BinaryBytesAreOrdinary) {
  std::string text = std::string("A=") + '\0' + "\n" + "B=\xff\x01\n";
  Pairs p = read(text);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].first, "A");
  EXPECT_EQ(p[0].second, "");  // NUL ends the text the handler sees
  EXPECT_EQ(p[1].second, "\xff\x01");
}

TEST(Reader, GarbageNeverOverrunsBuffers) {
  // Pseudo-random bytes weighted towards the scanner's special characters.
  const char alphabet[] = {'=', '\n', ' ', '\t', '#', '/', ';', '\r', 'a', 'Z', '\0', '\x80'};
  unsigned state = 12345;
  for (int round = 0; round < 200; ++round) {
    std::string text;
    int length = static_cast<int>(state % 600);
    for (int i = 0; i < length; ++i) {
      state = state * 1103515245u + 12345u;
      text.push_back(alphabet[(state >> 16) % sizeof alphabet]);
    }
    for (const auto& [k, v] : read(text)) {
      EXPECT_LT(k.size(), 80u);
      EXPECT_LT(v.size(), 80u);
    }
  }
}

}  // namespace
}  // namespace zbx
