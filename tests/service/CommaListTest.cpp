#include "service/CommaList.h"

#include <gtest/gtest.h>

using Items = std::vector<std::string>;

TEST(CommaList, WritesItemsQuotingOnlyWhereNeeded) {
  const struct {
    Items items;
    const char* text;
  } cases[] = {
      {{}, ""},
      {{""}, "\"\""},
      {{"", ""}, ","},
      {{"nocache=true"}, "nocache=true"},
      {{"nocache=true,Enabled=-1,Period=5"}, "\"nocache=true,Enabled=-1,Period=5\""},
      {{"a b", "say \"hi\"", "tab\there", "x"}, "\"a b\",\"say \"\"hi\"\"\",\"tab\there\",x"},
  };
  for (const auto& c : cases) EXPECT_EQ(TCommaList(c.items).Text(), c.text) << c.text;
}

TEST(CommaList, ReadsByTheDelimitedTextRules) {
  const struct {
    const char* text;
    Items items;
  } cases[] = {
      {"", {}},
      {"   ", {}},
      {"a,b", {"a", "b"}},
      {"  a ,  b  ", {"a", "b"}},
      {"a,", {"a", ""}},
      {"a,,b", {"a", "", "b"}},
      {"a b", {"a", "b"}},  // a blank ends an unquoted item
      {"\"a, b\",c", {"a, b", "c"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"\"open", {"open"}},  // an unclosed quote runs to the end
      {"\"ab\"cd", {"ab", "cd"}},
      {"\"\"", {""}},
      {"count=1200,60=900,80=500\r\n", {"count=1200", "60=900", "80=500"}},
  };
  for (const auto& c : cases) EXPECT_EQ(TCommaList::Parse(c.text).Items(), c.items) << c.text;
}

TEST(CommaList, RoundTripsWhatItWrites) {
  const Items items = {"nocache=true", "Enabled=-1", "a \"q\" b", "", "x,y"};
  EXPECT_EQ(TCommaList::Parse(TCommaList(items).Text()).Items(), items);
}

TEST(CommaList, NamedValuesIgnoreCaseAndTakeTheFirst) {
  const TCommaList list = TCommaList::Parse("Enabled=True,period=30,PERIOD=60,x=a=b,noequals");
  EXPECT_EQ(list.Value("enabled"), "True");
  EXPECT_EQ(list.Value("Period"), "30");
  EXPECT_EQ(list.Value("x"), "a=b");
  EXPECT_EQ(list.Value("noequals"), "");
  EXPECT_EQ(list.Value("missing"), "");
}
