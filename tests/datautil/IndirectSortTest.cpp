#include "datautil/IndirectSort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

namespace {

CDblHdr Dbl(std::initializer_list<double> values) {
    CDblHdr h;
    for (double v : values)
        h.Add(v);
    return h;
}

CIntHdr Int(std::initializer_list<int> values) {
    CIntHdr h;
    for (int v : values)
        h.Add(v);
    return h;
}

bool IsPermutation(CDblHdrIndirectSort& s, int n) {
    std::vector<int> seen(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; i++) {
        int k = s[i];
        if (k < 0 || k >= n || seen[k]++)
            return false;
    }
    return true;
}

} // namespace

TEST(IndirectSortOrder, SmallExampleSortApplyAndUndo) {
    CDblHdr a = Dbl({3.0, 1.0, 2.0});
    CDblHdrIndirectSort s;
    s.SortIndecies(a);
    EXPECT_EQ(a[0], 3.0); // the key array itself is not changed
    EXPECT_EQ(s[0], 1);
    EXPECT_EQ(s[1], 2);
    EXPECT_EQ(s[2], 0);
    CIntHdr order;
    s.GetOrder(order);
    ASSERT_EQ(order.GetSize(), 3);
    EXPECT_EQ(order[0], 1);
    EXPECT_EQ(order[2], 0);

    s.Sort(a);
    EXPECT_EQ(a[0], 1.0);
    EXPECT_EQ(a[1], 2.0);
    EXPECT_EQ(a[2], 3.0);
    s.UndoSortOf(a);
    EXPECT_EQ(a[0], 3.0);
    EXPECT_EQ(a[1], 1.0);
    EXPECT_EQ(a[2], 2.0);

    CIntHdr companion = Int({10, 20, 30});
    s.ApplySortTo(companion);
    EXPECT_EQ(companion[0], 20);
    EXPECT_EQ(companion[1], 30);
    EXPECT_EQ(companion[2], 10);
    s.UndoSortOf(companion);
    EXPECT_EQ(companion[0], 10);
    EXPECT_EQ(companion[1], 20);
    EXPECT_EQ(companion[2], 30);
}

TEST(IndirectSortOrder, ConstructorSortsInPlace) {
    CDblHdr a = Dbl({5.0, -1.0, 4.0, 0.0});
    CDblHdrIndirectSort s(a);
    EXPECT_EQ(s.GetCount(), 4);
    EXPECT_EQ(a[0], -1.0);
    EXPECT_EQ(a[3], 5.0);
}

TEST(IndirectSortOrder, AscendingInputGivesTheIdentity) {
    CDblHdr a;
    for (int i = 0; i < 100; i++)
        a.Add(i * 0.25 - 3.0);
    CDblHdrIndirectSort s;
    s.SortIndecies(a);
    for (int i = 0; i < 100; i++)
        EXPECT_EQ(s[i], i);
}

TEST(IndirectSortRoundTrip, CompanionsFollowTheKeysAndComeBack) {
    std::mt19937 gen(12345);
    std::uniform_int_distribution<int> pick(0, 40); // many repeated keys
    CDblHdr keys, dbl;
    CIntHdr ints;
    for (int i = 0; i < 500; i++) {
        keys.Add(pick(gen) * 0.5);
        dbl.Add(keys[i] * 10.0 + 0.001 * i);
        ints.Add(i);
    }
    CDblHdr keysBefore(keys), dblBefore(dbl);
    CDblHdrIndirectSort s;
    s.SortIndecies(keys);
    ASSERT_TRUE(IsPermutation(s, 500));
    s.ApplySortTo(keys);
    s.ApplySortTo(dbl);
    s.ApplySortTo(ints);
    for (int i = 1; i < 500; i++)
        EXPECT_LE(keys[i - 1], keys[i]);
    for (int i = 0; i < 500; i++) {
        EXPECT_EQ(ints[i], s[i]);
        EXPECT_EQ(keys[i], keysBefore[ints[i]]);
        EXPECT_EQ(dbl[i], dblBefore[ints[i]]);
    }
    s.UndoSortOf(keys);
    s.UndoSortOf(dbl);
    s.UndoSortOf(ints);
    for (int i = 0; i < 500; i++) {
        EXPECT_EQ(keys[i], keysBefore[i]);
        EXPECT_EQ(dbl[i], dblBefore[i]);
        EXPECT_EQ(ints[i], i);
    }
}

TEST(IndirectSortEdges, EmptyArrayChangesNothing) {
    CDblHdr empty;
    CDblHdrIndirectSort s;
    s.Sort(empty);
    EXPECT_EQ(s.GetCount(), 0);
    CDblHdr other = Dbl({2.0, 1.0});
    CIntHdr ints = Int({7, 8});
    s.ApplySortTo(other);
    s.UndoSortOf(other);
    s.ApplySortTo(ints);
    s.UndoSortOf(ints);
    EXPECT_EQ(other[0], 2.0);
    EXPECT_EQ(ints[0], 7);

    // After a real sort, an empty one leaves the order but disables permuting.
    CDblHdr three = Dbl({3.0, 1.0, 2.0});
    s.SortIndecies(three);
    s.SortIndecies(empty);
    EXPECT_EQ(s.GetCount(), 0);
    s.ApplySortTo(three);
    EXPECT_EQ(three[0], 3.0);
    EXPECT_EQ(s[0], 1);
}

TEST(IndirectSortEdges, ShorterArraysAreLeftUnchanged) {
    CDblHdr a = Dbl({4.0, 3.0, 2.0, 1.0});
    CDblHdrIndirectSort s;
    s.SortIndecies(a);
    CDblHdr shortD = Dbl({1.0, 2.0, 3.0});
    CIntHdr shortI = Int({1, 2});
    s.ApplySortTo(shortD);
    s.UndoSortOf(shortD);
    s.ApplySortTo(shortI);
    s.UndoSortOf(shortI);
    EXPECT_EQ(shortD[0], 1.0);
    EXPECT_EQ(shortD[2], 3.0);
    EXPECT_EQ(shortI[0], 1);
    EXPECT_EQ(shortI[1], 2);
    // A longer array has only its first elements permuted.
    CIntHdr longer = Int({0, 1, 2, 3, 99});
    s.ApplySortTo(longer);
    EXPECT_EQ(longer[0], 3);
    EXPECT_EQ(longer[3], 0);
    EXPECT_EQ(longer[4], 99);
}

TEST(IndirectSortEdges, NaNKeysSortAfterEveryNumber) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(-100.0, 100.0);
    CDblHdr a;
    int nanCount = 0;
    for (int i = 0; i < 2000; i++) {
        if (i % 7 == 3) {
            a.Add(nan);
            nanCount++;
        } else {
            a.Add(u(gen));
        }
    }
    a.Add(-std::numeric_limits<double>::infinity());
    a.Add(std::numeric_limits<double>::infinity());
    const int n = a.GetSize();
    CDblHdrIndirectSort s;
    s.SortIndecies(a);
    ASSERT_TRUE(IsPermutation(s, n));
    s.ApplySortTo(a);
    const int numbers = n - nanCount;
    EXPECT_EQ(a[0], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(a[numbers - 1], std::numeric_limits<double>::infinity());
    for (int i = 1; i < numbers; i++)
        EXPECT_LE(a[i - 1], a[i]);
    for (int i = numbers; i < n; i++)
        EXPECT_TRUE(std::isnan(a[i])) << i;
}

TEST(IndirectSortConcurrency, ObjectsSortOnDifferentThreadsAtOnce) {
    const int threads = 4;
    std::vector<CDblHdr> keys(threads);
    for (int k = 0; k < threads; k++) {
        std::mt19937 gen(100 + k);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        for (int i = 0; i < 20000; i++)
            keys[k].Add(u(gen) + k); // disjoint ranges: a mixed-up key shows
    }
    std::vector<int> ok(threads, 0);
    std::vector<std::thread> pool;
    for (int k = 0; k < threads; k++) {
        pool.emplace_back([&, k] {
            CDblHdrIndirectSort s;
            CDblHdr copy(keys[k]);
            for (int round = 0; round < 3; round++)
                s.SortIndecies(copy);
            s.ApplySortTo(copy);
            bool sorted = true;
            for (int i = 1; i < copy.GetSize(); i++)
                sorted = sorted && copy[i - 1] <= copy[i];
            ok[k] = sorted && copy[0] >= k && copy[copy.GetSize() - 1] < k + 1 ? 1 : 0;
        });
    }
    for (auto& th : pool)
        th.join();
    for (int k = 0; k < threads; k++)
        EXPECT_EQ(ok[k], 1) << k;
}

TEST(IndirectSortLock, ObjectIsALock) {
    CDblHdrIndirectSort s;
    EXPECT_TRUE(s.Lock());
    EXPECT_FALSE(s.TryLock());
    EXPECT_TRUE(s.Unlock());
    CDblHdr a = Dbl({2.0, 1.0});
    s.Sort(a); // the sort takes and releases the lock itself
    EXPECT_FALSE(s.IsLocked());
    EXPECT_EQ(a[0], 1.0);
}
