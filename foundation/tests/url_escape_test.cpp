#include "foundation/strings/url_escape.h"

#include <gtest/gtest.h>

namespace {

TEST(UrlEscapeTest, EscapesWhatAUrlCannotCarryAndKeepsSeparators) {
  const struct {
    std::string_view text, escaped;
  } kCases[] = {
      {"/dir/a b.txt", "/dir/a%20b.txt"},
      {"\"<>{}|\\^`", "%22%3C%3E%7B%7D%7C%5C%5E%60"},
      {std::string_view("\t\n\x7f\0", 4), "%09%0A%7F%00"},
      {"/caf\xc3\xa9.txt", "/caf%C3%A9.txt"},
      {"/p:q/r?a=1&b=2,c;d@e+f$g#h", "/p:q/r?a=1&b=2,c;d@e+f$g#h"},
      {"/already%20escaped%zz", "/already%20escaped%zz"},
      {"-._~!*'()[]AZaz09", "-._~!*'()[]AZaz09"},
  };
  for (const auto& c : kCases) EXPECT_EQ(EscapeUrlText(c.text), c.escaped) << c.text;
}

}  // namespace
