// The data utilities' answers straight from the C++ classes, for the Python tests to
// compare with bit for bit. Reads a JSON list of cases on stdin, writes a JSON list of
// answers (every double as a "%.17g" string, so nothing is lost on the way).
//
//   {"op": "interpolate", "x": [...], "y": [...], "at": [...], "derivative": false, "skip_null": false}
//   {"op": "bracket", "values": [...], "at": [...]}
//   {"op": "slope", "x": [...], "y": [...], "weight_index": -1, "weight": 1.0, "semilog": false}
//   {"op": "fit_type_curve", "nodes": [...], "t": [...], "p": [...], "tc": [...], "q": [...],
//    "constant": 0.0, "fit_constant": false}
//   {"op": "indirect_sort", "a": [...]}
//   {"op": "normal_deviates", "count": 10, "sigma": 1.0, "mean": 0.0, "seed": 1}
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "datautil/BinarySearch.h"
#include "datautil/Derivative.h"
#include "datautil/FitTypeCurve.h"
#include "datautil/IndirectSort.h"
#include "datautil/Interpolate.h"
#include "datautil/NormalDistribution.h"
#include "host/data/DataHeaders.h"
#include "host/data/Parameters.h"

namespace {

using nlohmann::json;

std::string Text(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

json Texts(const double* v, int n) {
    json out = json::array();
    for (int i = 0; i < n; i++)
        out.push_back(Text(v[i]));
    return out;
}

void Fill(CDblHdr& h, const json& values) {
    h.SetSize(static_cast<int>(values.size()));
    for (size_t i = 0; i < values.size(); i++)
        h[i] = values[i].get<double>();
}

json Interpolate(const json& c) {
    CDblHdr x, y;
    Fill(x, c["x"]);
    Fill(y, c["y"]);
    const bool derivative = c.value("derivative", false);
    json out = json::array();
    auto evaluate = [&](CVRNiInterpolate& ip) {
        for (const auto& a : c["at"]) {
            double v = a.get<double>();
            out.push_back(Text(derivative ? ip.dfdx(v) : ip.f(v)));
        }
    };
    if (c.value("skip_null", false)) {
        CVRNiNonNULLValueInterpolate ip(x, y);
        evaluate(ip);
    } else {
        CVRNiInterpolate ip(x, y);
        evaluate(ip);
    }
    return out;
}

json Bracket(const json& c) {
    CDblHdr h;
    Fill(h, c["values"]);
    CVRNiBinarySearch search(h);
    json out = json::array();
    for (const auto& a : c["at"])
        out.push_back(search.Bracket(a.get<double>()));
    return out;
}

json Slope(const json& c) {
    std::vector<double> x = c["x"].get<std::vector<double>>();
    std::vector<double> y = c["y"].get<std::vector<double>>();
    CVRNiDerivative d;
    const int n = static_cast<int>(x.size());
    const int i = c.value("weight_index", -1);
    const double w = c.value("weight", 1.0);
    const double s = c.value("semilog", false) ? d.SemilogSlope(x.data(), y.data(), n, i, w)
                                               : d.PPD(x.data(), y.data(), n, i, w);
    return json::array({Text(s), Text(d.GetIntercept())});
}

json FitTypeCurve(const json& c) {
    CDblHdr nodes, g, t, p, tc, q;
    Fill(nodes, c["nodes"]);
    g.SetSize(nodes.GetSize());
    for (int i = 0; i < g.GetSize(); i++)
        g[i] = 0.0;
    Fill(t, c["t"]);
    Fill(p, c["p"]);
    Fill(tc, c["tc"]);
    Fill(q, c["q"]);
    CSynPar constant(c.value("constant", 0.0));
    CVRNiFitTypeCurve fit;
    fit.SetTypeCurve(nodes, g);
    fit.Fit(t, p, tc, q, constant, c.value("fit_constant", false) ? 1 : 0);
    return json::array({Texts(g.GetData(), g.GetSize()), Text(constant.GetValue())});
}

json IndirectSort(const json& c) {
    CDblHdr a;
    Fill(a, c["a"]);
    CDblHdrIndirectSort sort;
    sort.SortIndecies(a);
    CIntHdr order;
    sort.GetOrder(order);
    json out = json::array();
    for (int i = 0; i < order.GetSize(); i++)
        out.push_back(order[i]);
    return out;
}

json NormalDeviates(const json& c) {
    CNormalDistribution dist(c.value("sigma", 1.0), c.value("mean", 0.0));
    CNormalDistribution::SeedGenerator(c.value("seed", 1u));
    json out = json::array();
    const int count = c.value("count", 0);
    for (int i = 0; i < count; i++)
        out.push_back(Text(dist.Rand()));
    return out;
}

} // namespace

int main() {
    const json cases = json::parse(std::cin, nullptr, false);
    if (cases.is_discarded() || !cases.is_array()) {
        std::cerr << "datautil_reference: expected a JSON list of cases on stdin\n";
        return 2;
    }
    json answers = json::array();
    for (const json& c : cases) {
        const std::string op = c.value("op", std::string());
        if (op == "interpolate")
            answers.push_back(Interpolate(c));
        else if (op == "bracket")
            answers.push_back(Bracket(c));
        else if (op == "slope")
            answers.push_back(Slope(c));
        else if (op == "fit_type_curve")
            answers.push_back(FitTypeCurve(c));
        else if (op == "indirect_sort")
            answers.push_back(IndirectSort(c));
        else if (op == "normal_deviates")
            answers.push_back(NormalDeviates(c));
        else {
            std::cerr << "datautil_reference: unknown op '" << op << "'\n";
            return 2;
        }
    }
    std::cout << answers.dump() << "\n";
    return 0;
}
