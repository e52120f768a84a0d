#pragma once

// Normally distributed random numbers by the polar method. Every accepted pair
// of uniforms gives two independent deviates; the second is kept and returned
// by the next call.
//
// The uniforms come from one process-wide generator of 15-bit integers
// (0 ... 32767) with the seed-and-draw behaviour of the C runtime's srand and
// rand: the same seed gives the same sequence, and an unseeded generator
// starts as if seeded with 1. Constructing an object reseeds it for the whole
// process from the calendar time in seconds.
//
// Not for concurrent use: all objects share that generator, so draws made on several
// threads at once interleave in an order that depends on the timing (the state itself
// stays sound: it is advanced atomically), and an object built on one thread reseeds
// the sequence of every other. Concurrent minimizations (vrn::MinimizeMany, the
// engine's evaluation threads) whose objectives draw from it are therefore not
// repeatable; draw the numbers before the runs. One object serves one thread at a time.
class CNormalDistribution {
public:
    CNormalDistribution(double sigma = 1.0, double mean = 0.0);
    CNormalDistribution(const CNormalDistribution&) = default;
    CNormalDistribution& operator=(const CNormalDistribution&) = default;
    ~CNormalDistribution() = default;

    // Changes scale and offset only; a kept deviate stays kept.
    void Set(double sigma, double mean);
    // One deviate with the object's standard deviation and mean.
    double Rand();

    // The process-wide generator.
    static constexpr int RandMax = 32767;
    static void SeedGenerator(unsigned int seed);
    static int NextInteger();

private:
    double Normal();

    double m_dSigma;
    double m_dMean;
    double m_dSpare;
};
