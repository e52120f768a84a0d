#include "datautil/BinarySearch.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

CDblHdr Make(std::initializer_list<double> values) {
    CDblHdr h;
    for (double v : values)
        h.Add(v);
    return h;
}

} // namespace

TEST(BinarySearchBracket, EmptyArrayAnswersNull) {
    CVRNiBinarySearch unset;
    EXPECT_EQ(unset.Bracket(1.0), -32600);
    CDblHdr empty;
    CVRNiBinarySearch search(empty);
    EXPECT_EQ(search.Bracket(-5.0), -32600);
    EXPECT_EQ(search.Bracket(0.0), -32600);
}

TEST(BinarySearchBracket, SingleValue) {
    CDblHdr h = Make({2.0});
    CVRNiBinarySearch search(h);
    EXPECT_EQ(search.Bracket(1.0), 0);
    EXPECT_EQ(search.Bracket(2.0), 0);
    EXPECT_EQ(search.Bracket(3.0), -1);
}

TEST(BinarySearchBracket, EndsInteriorNodesAndOutside) {
    CDblHdr h = Make({0.0, 1.0, 2.5, 4.0, 7.0, 9.0});
    CVRNiBinarySearch search(h);
    EXPECT_EQ(search.Bracket(-3.0), 0);
    EXPECT_EQ(search.Bracket(0.0), 0);
    EXPECT_EQ(search.Bracket(0.5), 0);
    EXPECT_EQ(search.Bracket(1.0), 1);
    EXPECT_EQ(search.Bracket(2.5), 2);
    EXPECT_EQ(search.Bracket(3.9), 2);
    EXPECT_EQ(search.Bracket(4.0), 3);
    EXPECT_EQ(search.Bracket(8.99), 4);
    EXPECT_EQ(search.Bracket(9.0), 4);
    EXPECT_EQ(search.Bracket(100.0), 4);
}

TEST(BinarySearchBracket, EveryValueOfALargeArrayIsFoundInItsInterval) {
    CDblHdr h;
    for (int i = 0; i < 1000; i++)
        h.Add(i * 0.5);
    CVRNiBinarySearch search(h);
    for (int i = 0; i < 999; i++) {
        EXPECT_EQ(search.Bracket(i * 0.5), i);
        EXPECT_EQ(search.Bracket(i * 0.5 + 0.25), i);
    }
    EXPECT_EQ(search.Bracket(999 * 0.5), 998);
}

TEST(BinarySearchBracket, RepeatedValuesGiveTheLastIndexHoldingTheValue) {
    CDblHdr h = Make({1.0, 2.0, 2.0, 2.0, 3.0});
    CVRNiBinarySearch search(h);
    EXPECT_EQ(search.Bracket(2.0), 3);
    CDblHdr flat = Make({5.0, 5.0, 5.0});
    CVRNiBinarySearch onFlat(flat);
    EXPECT_EQ(onFlat.Bracket(5.0), 1); // clamped to N - 2
}

TEST(BinarySearchUpdate, SearchFollowsTheCallersHeaderAfterAnUpdate) {
    CDblHdr h = Make({0.0, 1.0});
    CVRNiBinarySearch search(h);
    EXPECT_EQ(search.Bracket(5.0), 0);
    for (int i = 2; i < 10; i++)
        h.Add(i);
    search.BinarySearchUpdate(h);
    EXPECT_EQ(search.Bracket(5.5), 5);
    h[6] = 5.25; // values are shared, not copied
    EXPECT_EQ(search.Bracket(5.5), 6);
}

TEST(BinarySearchCopy, CopiesSearchTheSameValuesAndLeaveTheCallersArrays) {
    CDblHdr a = Make({0.0, 10.0, 20.0, 30.0});
    CDblHdr b = Make({0.0, 1.0, 2.0});
    CVRNiBinarySearch sa(a);
    CVRNiBinarySearch sb(b);
    CVRNiBinarySearch copy(sa);
    EXPECT_EQ(copy.Bracket(25.0), 2);

    sb = sa;
    EXPECT_EQ(sb.Bracket(25.0), 2);
    // The array the assigned search was attached to is untouched.
    ASSERT_EQ(b.GetSize(), 3);
    EXPECT_EQ(b[0], 0.0);
    EXPECT_EQ(b[1], 1.0);
    EXPECT_EQ(b[2], 2.0);
    EXPECT_EQ(a[3], 30.0);
}
