#include "datautil/NormalDistribution.h"
#include "host/data/DataHeaders.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <ctime>

namespace {

const double NullValue = kVRNNullValue;

// Linear congruential generator whose bits 16 to 30 are the 15-bit result;
// atomic so that threads drawing at the same time never corrupt the state.
std::atomic<std::uint32_t> g_nGeneratorState{1u};

} // namespace

void CNormalDistribution::SeedGenerator(unsigned int seed) {
    g_nGeneratorState.store(static_cast<std::uint32_t>(seed), std::memory_order_relaxed);
}

int CNormalDistribution::NextInteger() {
    std::uint32_t state = g_nGeneratorState.load(std::memory_order_relaxed);
    std::uint32_t next;
    do {
        next = state * 214013u + 2531011u;
    } while (!g_nGeneratorState.compare_exchange_weak(state, next, std::memory_order_relaxed));
    return static_cast<int>((next >> 16) & 0x7FFFu);
}

CNormalDistribution::CNormalDistribution(double sigma, double mean)
    : m_dSigma(sigma), m_dMean(mean), m_dSpare(NullValue) {
    SeedGenerator(static_cast<unsigned int>(std::time(nullptr)));
}

void CNormalDistribution::Set(double sigma, double mean) {
    m_dSigma = sigma;
    m_dMean = mean;
}

double CNormalDistribution::Rand() {
    return Normal() * m_dSigma + m_dMean;
}

double CNormalDistribution::Normal() {
    if (m_dSpare != NullValue) {
        double spare = m_dSpare;
        m_dSpare = NullValue;
        return spare;
    }
    double u;
    double v;
    double s;
    do {
        u = NextInteger() / 32767.0 * 2 - 1;
        v = NextInteger() / 32767.0 * 2 - 1;
        s = u * u + v * v;
    } while (!(s < 1));
    double m = std::sqrt(-2 * std::log(s) / s);
    m_dSpare = u * m;
    return v * m;
}
