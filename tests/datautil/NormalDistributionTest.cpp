#include "datautil/NormalDistribution.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Pair {
    double first;  // returned by the first call: v * m
    double second; // returned by the next call: u * m
};

// The next accepted pair of the generator, computed here step by step.
Pair NextPair() {
    for (;;) {
        double u = CNormalDistribution::NextInteger() / 32767.0 * 2 - 1;
        double v = CNormalDistribution::NextInteger() / 32767.0 * 2 - 1;
        double s = u * u + v * v;
        if (s < 1) {
            double m = std::sqrt(-2 * std::log(s) / s);
            return {v * m, u * m};
        }
    }
}

} // namespace

TEST(NormalGenerator, FifteenBitIntegersRepeatForTheSameSeed) {
    CNormalDistribution::SeedGenerator(1);
    // The classic sequence of the seed-and-draw generator seeded with 1.
    EXPECT_EQ(CNormalDistribution::NextInteger(), 41);
    EXPECT_EQ(CNormalDistribution::NextInteger(), 18467);
    EXPECT_EQ(CNormalDistribution::NextInteger(), 6334);
    int lo = 32767, hi = 0;
    CNormalDistribution::SeedGenerator(987654u);
    int first[10];
    for (int i = 0; i < 10; i++)
        first[i] = CNormalDistribution::NextInteger();
    for (int i = 0; i < 200000; i++) {
        int r = CNormalDistribution::NextInteger();
        lo = r < lo ? r : lo;
        hi = r > hi ? r : hi;
    }
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 32767);
    CNormalDistribution::SeedGenerator(987654u);
    for (int i = 0; i < 10; i++)
        EXPECT_EQ(CNormalDistribution::NextInteger(), first[i]);
}

TEST(NormalDeviates, ConsecutiveCallsReturnBothHalvesOfOnePair) {
    CNormalDistribution nd;
    CNormalDistribution::SeedGenerator(2024);
    Pair a = NextPair();
    Pair b = NextPair();
    CNormalDistribution::SeedGenerator(2024);
    EXPECT_EQ(nd.Rand(), a.first);
    EXPECT_EQ(nd.Rand(), a.second);
    EXPECT_EQ(nd.Rand(), b.first);
    EXPECT_EQ(nd.Rand(), b.second);
}

TEST(NormalDeviates, ScaleAndOffsetApplyToTheKeptDeviateToo) {
    CNormalDistribution nd(2.0, 10.0);
    CNormalDistribution::SeedGenerator(77);
    Pair a = NextPair();
    CNormalDistribution::SeedGenerator(77);
    EXPECT_EQ(nd.Rand(), a.first * 2.0 + 10.0);
    nd.Set(0.5, -1.0);
    EXPECT_EQ(nd.Rand(), a.second * 0.5 + -1.0);
}

TEST(NormalDeviates, ZeroSigmaGivesTheMean) {
    CNormalDistribution nd(0.0, 3.5);
    for (int i = 0; i < 50; i++)
        EXPECT_EQ(nd.Rand(), 3.5);
}

TEST(NormalDeviates, CopyCarriesTheKeptDeviate) {
    CNormalDistribution nd;
    CNormalDistribution::SeedGenerator(5);
    Pair a = NextPair();
    CNormalDistribution::SeedGenerator(5);
    EXPECT_EQ(nd.Rand(), a.first);
    CNormalDistribution copy(nd);
    CNormalDistribution assigned(4.0, 4.0);
    assigned = nd;
    EXPECT_EQ(nd.Rand(), a.second);
    EXPECT_EQ(copy.Rand(), a.second);
    EXPECT_EQ(assigned.Rand(), a.second);
}

TEST(NormalDeviates, SampleMomentsAreThoseOfAStandardNormal) {
    CNormalDistribution nd;
    CNormalDistribution::SeedGenerator(31337);
    const int n = 100000;
    double sum = 0.0, sumSq = 0.0;
    int beyondTwo = 0;
    for (int i = 0; i < n; i++) {
        double z = nd.Rand();
        sum += z;
        sumSq += z * z;
        if (std::fabs(z) > 2.0)
            beyondTwo++;
    }
    const double mean = sum / n;
    const double var = sumSq / n - mean * mean;
    EXPECT_NEAR(mean, 0.0, 0.02);
    EXPECT_NEAR(var, 1.0, 0.03);
    EXPECT_NEAR(beyondTwo / static_cast<double>(n), 0.0455, 0.005);
}
