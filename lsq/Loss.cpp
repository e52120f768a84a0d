// Robust losses (see Loss.h).
#include "lsq/Loss.h"

#include <cfloat>
#include <cmath>

namespace vrn {

const char* LossName(Loss loss) {
    switch (loss) {
    case Loss::Linear:
        return "linear";
    case Loss::SoftL1:
        return "soft_l1";
    case Loss::Huber:
        return "huber";
    case Loss::Cauchy:
        return "cauchy";
    case Loss::Arctan:
        return "arctan";
    }
    return "unknown";
}

std::optional<Loss> LossFromName(const std::string& name) {
    for (Loss l : {Loss::Linear, Loss::SoftL1, Loss::Huber, Loss::Cauchy, Loss::Arctan})
        if (name == LossName(l))
            return l;
    return std::nullopt;
}

LossValues EvaluateLoss(Loss loss, double z) {
    LossValues v;
    switch (loss) {
    case Loss::Linear:
        v = {z, 1.0, 0.0};
        break;
    case Loss::SoftL1: {
        const double t = 1.0 + z;
        v = {2.0 * (std::sqrt(t) - 1.0), 1.0 / std::sqrt(t), -0.5 / (t * std::sqrt(t))};
        break;
    }
    case Loss::Huber:
        if (z <= 1.0) {
            v = {z, 1.0, 0.0};
        } else {
            const double s = std::sqrt(z);
            v = {2.0 * s - 1.0, 1.0 / s, -0.5 / (z * s)};
        }
        break;
    case Loss::Cauchy: {
        const double t = 1.0 + z;
        v = {std::log1p(z), 1.0 / t, -1.0 / (t * t)};
        break;
    }
    case Loss::Arctan: {
        const double t = 1.0 + z * z;
        v = {std::atan(z), 1.0 / t, -2.0 * z / (t * t)};
        break;
    }
    }
    return v;
}

double LossCost(Loss loss, double scale, std::span<const double> r) {
    double sum = 0.0;
    if (loss == Loss::Linear) {
        for (double ri : r)
            sum += ri * ri;
        return 0.5 * sum;
    }
    for (double ri : r) {
        const double q = ri / scale;
        sum += EvaluateLoss(loss, q * q).rho;
    }
    return 0.5 * (scale * scale) * sum;
}

LossWeight ReweightResidual(Loss loss, double scale, double r) {
    if (loss == Loss::Linear)
        return {1.0, r};
    const double q = r / scale;
    const double z = q * q;
    const LossValues v = EvaluateLoss(loss, z);
    double w = v.d1 + 2.0 * v.d2 * z;
    // NaN stays NaN (and makes the model not finite); small or negative weights are raised.
    if (w < DBL_EPSILON)
        w = DBL_EPSILON;
    const double f = std::sqrt(w);
    return {f, v.d1 * r / f};
}

} // namespace vrn
