// List splitting on its own: counting and picking items of a delimited text.
#include <gtest/gtest.h>

#include <string>

#include "listsplit.h"

namespace {

using listsplit::countItems;
using listsplit::itemAt;

TEST(ListSplitTest, CountIsOnePlusTheDelimitersFound) {
    struct Case { std::u16string_view list, delim; long count; };
    const Case cases[] = {
        {u"a,b,c", u",", 3}, {u"abc", u",", 1}, {u"", u",", 0}, {u"abc", u"", 0}, {u"", u"", 0},
        {u"a,b,", u",", 3}, {u",a", u",", 2}, {u"a,,b", u",", 3}, {u",", u",", 2}, {u",,", u",", 3},
        {u"a,", u",", 2},
        // Occurrences do not overlap: ',,' is found once in ',,,'.
        {u"a,,,b", u",,", 2}, {u",,,", u",,", 2}, {u",,,,", u",,", 3},
        {u"x::y::z", u"::", 3}, {u"aXbxc", u"x", 2}, {u"aNULLb", u"NULL", 2},
        {u"a", u"abc", 1}, {u"abc", u"abc", 2}, {u"\u20ac1\u20ac2", u"\u20ac", 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(countItems(c.list, c.delim), c.count)
            << std::string(c.list.begin(), c.list.end()) << " / " << std::string(c.delim.begin(), c.delim.end());
}

TEST(ListSplitTest, ItemIsTheTextBetweenTheDelimitersAroundIt) {
    struct Case { std::u16string_view list; long idx; std::u16string_view delim; const char16_t* item; };
    const Case cases[] = {
        {u"a,b,c", 1, u",", u"a"}, {u"a,b,c", 2, u",", u"b"}, {u"a,b,c", 3, u",", u"c"},
        {u"a,b,c", 4, u",", nullptr}, {u"a,b,c", 0, u",", nullptr}, {u"a,b,c", -1, u",", nullptr},
        {u"abc", 1, u",", u"abc"}, {u"abc", 2, u",", nullptr},
        {u"a,,b", 2, u",", u""}, {u"a,,b", 3, u",", u"b"}, {u",a", 1, u",", u""}, {u",a", 2, u",", u"a"},
        // The walk ends with the list: the empty item after a trailing
        // delimiter is counted but never found.
        {u"a,", 1, u",", u"a"}, {u"a,", 2, u",", nullptr}, {u",", 1, u",", u""}, {u",", 2, u",", nullptr},
        {u"x::y::z", 2, u"::", u"y"}, {u"x::y::z", 3, u"::", u"z"}, {u"a,,,b", 2, u",,", u",b"},
        {u"aXbxc", 2, u"x", u"c"}, {u"aXbxc", 1, u"X", u"a"}, {u"aNULLb", 2, u"NULL", u"b"},
        {u"a, b", 2, u",", u" b"}, {u" a ,b", 1, u",", u" a "},
        {u"", 1, u",", nullptr}, {u"a,b", 1, u"", nullptr}, {u"a", 1, u"abc", u"a"},
        {u"\u20ac1\u20ac2", 3, u"\u20ac", u"2"},
    };
    for (const Case& c : cases) {
        auto item = itemAt(c.list, c.idx, c.delim);
        std::string where = std::string(c.list.begin(), c.list.end()) + " #" + std::to_string(c.idx);
        if (!c.item) {
            EXPECT_FALSE(item) << where;
        } else {
            ASSERT_TRUE(item) << where;
            EXPECT_TRUE(*item == std::u16string_view(c.item)) << where;
        }
    }
}

TEST(ListSplitTest, ItemsOfALongListAreFoundToTheLast) {
    std::u16string list;
    for (int i = 0; i < 10000; ++i) list += u"item;";
    list += u"end";
    EXPECT_EQ(countItems(list, u";"), 10001);
    ASSERT_TRUE(itemAt(list, 10001, u";"));
    EXPECT_TRUE(*itemAt(list, 10001, u";") == u"end");
    EXPECT_FALSE(itemAt(list, 10002, u";"));
    EXPECT_FALSE(itemAt(list, 0x7fffffff, u";"));
}

}  // namespace
