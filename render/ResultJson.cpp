// The JSON form of vrn::MinimizeResult.
#include "render/ResultJson.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace vrn {

namespace {

class Writer {
public:
    explicit Writer(JsonNumbers numbers) : m_Numbers(numbers) {}

    Writer& Key(const char* key) {
        Separate();
        m_Out += JsonString(key);
        m_Out += ':';
        m_bFresh = true;
        return *this;
    }
    Writer& Begin(char bracket) {
        Separate();
        m_Out += bracket;
        m_bFresh = true;
        return *this;
    }
    Writer& End(char bracket) {
        m_Out += bracket;
        m_bFresh = false;
        return *this;
    }
    Writer& Number(double v) {
        Separate();
        if (std::isfinite(v)) {
            char buf[64];
            const auto r = std::to_chars(buf, buf + sizeof buf, v);
            m_Out.append(buf, r.ptr);
        } else if (m_Numbers == JsonNumbers::Strict) {
            m_Out += "null";
        } else {
            m_Out += std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity");
        }
        return *this;
    }
    Writer& Integer(long v) {
        Separate();
        m_Out += std::to_string(v);
        return *this;
    }
    Writer& Bool(bool v) {
        Separate();
        m_Out += v ? "true" : "false";
        return *this;
    }
    Writer& String(const std::string& s) {
        Separate();
        m_Out += JsonString(s);
        return *this;
    }
    Writer& Raw(const std::string& text) {
        Separate();
        m_Out += text;
        return *this;
    }
    Writer& Numbers(const std::vector<double>& v) {
        Begin('[');
        for (double x : v)
            Number(x);
        return End(']');
    }
    Writer& Strings(const std::vector<std::string>& v) {
        Begin('[');
        for (const std::string& s : v)
            String(s);
        return End(']');
    }
    Writer& Counts(const Evaluations& e) {
        Begin('{');
        Key("f").Integer(e.f);
        Key("gradient").Integer(e.gradient);
        Key("hessian").Integer(e.hessian);
        return End('}');
    }
    std::string Take() { return std::move(m_Out); }

private:
    void Separate() {
        if (!m_bFresh)
            m_Out += ',';
        m_bFresh = false;
    }
    JsonNumbers m_Numbers;
    std::string m_Out;
    bool m_bFresh = true;
};

void Check(Writer& w, const DerivativeCheck& c) {
    w.Begin('{');
    w.Key("passed").Bool(c.passed);
    w.Key("row").Integer(c.row);
    if (c.column >= 0)
        w.Key("column").Integer(c.column);
    w.Key("analytic").Number(c.analytic);
    w.Key("estimate").Number(c.estimate);
    w.Key("relative_error").Number(c.relativeError);
    w.Key("tolerance").Number(c.tolerance);
    w.Key("entries").Begin('[');
    for (const CVRNDerivativeCheckEntry& e : c.entries) {
        w.Begin('{');
        w.Key("row").Integer(e.row);
        w.Key("column").Integer(e.column);
        w.Key("analytic").Number(e.analytic);
        w.Key("estimate").Number(e.estimate);
        w.Key("relative_error").Number(e.relativeError);
        w.Key("flagged").Bool(e.flagged);
        w.End('}');
    }
    w.End(']');
    w.End('}');
}

} // namespace

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string JsonStrings(const std::vector<std::string>& strings) {
    std::string out = "[";
    for (size_t i = 0; i < strings.size(); i++) {
        if (i > 0)
            out += ',';
        out += JsonString(strings[i]);
    }
    out += ']';
    return out;
}

std::string ToJson(const MinimizeResult& r, JsonNumbers numbers,
                   const std::vector<std::pair<std::string, std::string>>& extra) {
    Writer w(numbers);
    w.Begin('{');
    w.Key("x").Numbers(r.x);
    if (!r.names.empty())
        w.Key("variables").Strings(r.names);
    w.Key("point").Begin('{');
    for (size_t i = 0; i < r.x.size(); i++) {
        std::string key = "x";
        key += std::to_string(i);
        w.Key((i < r.names.size() ? r.names[i] : key).c_str()).Number(r.x[i]);
    }
    w.End('}');
    w.Key("f").Number(r.f);
    w.Key("success").Bool(r.success);
    w.Key("outcome").String(OutcomeName(r.outcome));
    w.Key("status").String(StatusName(r.status));
    w.Key("code").Integer(r.code);
    w.Key("message").String(r.message);
    w.Key("warnings").Strings(r.warnings);
    w.Key("method").Integer(r.method);
    w.Key("method_name").String(MethodName(r.method));
    w.Key("driver").String(r.driver);
    w.Key("derivatives").String(r.derivatives);
    w.Key("gradient").Numbers(r.gradient);
    w.Key("gradient_norm").Number(r.gradientNorm);
    w.Key("initial_f").Number(r.initialF);
    w.Key("iterations").Integer(r.iterations);
    w.Key("runs").Integer(r.runs);
    w.Key("evaluations").Counts(r.evaluations);
    w.Key("nonfinite_evaluations").Integer(r.nonFiniteEvaluations);
    w.Key("time_s").Number(r.timeSeconds);
    w.Key("typical_x").Numbers(r.typicalX);
    w.Key("typical_f").Number(r.typicalF);
    w.Key("gradient_tolerance").Number(r.gradientTolerance);
    const Verdict& v = r.verdict;
    w.Key("verdict").Begin('{');
    w.Key("test").String(v.test);
    w.Key("hessian_source").String(v.hessianSource);
    w.Key("tolerance").Number(v.tolerance);
    w.Key("decrease").Number(v.decrease);
    w.Key("allowed").Number(v.allowed);
    w.Key("min_curvature").Number(v.minCurvature);
    w.Key("positive_definite").Bool(v.positiveDefinite);
    w.Key("curvature_unresolved").Bool(v.curvatureUnresolved);
    w.Key("newton_step").Numbers(v.newtonStep);
    w.Key("engine_gradient_norm").Number(v.engineGradientNorm);
    w.Key("evaluations").Counts(v.evaluations);
    w.Key("saddle_escapes").Integer(v.saddleEscapes);
    w.Key("plateau").Bool(v.plateau);
    w.End('}');
    w.Key("checks").Begin('{');
    if (r.gradientCheck.ran) {
        w.Key("gradient");
        Check(w, r.gradientCheck);
    }
    if (r.hessianCheck.ran) {
        w.Key("hessian");
        Check(w, r.hessianCheck);
    }
    w.End('}');
    w.Key("settings").Begin('[');
    for (const auto& [name, value] : r.settings) {
        w.Begin('{');
        w.Key("name").String(name);
        w.Key("value").String(value);
        w.End('}');
    }
    w.End(']');
    if (!r.iterationRecords.empty()) {
        w.Key("records").Begin('[');
        for (const IterationRecord& k : r.iterationRecords) {
            w.Begin('{');
            w.Key("run").Integer(k.run);
            w.Key("iteration").Integer(k.iteration);
            w.Key("f").Number(k.f);
            w.Key("gradient_norm").Number(k.gradientNorm);
            w.Key("step").Number(k.stepLength);
            w.Key("radius").Number(k.radius);
            w.Key("evaluations").Counts({k.fEvaluations, k.gradientEvaluations, k.hessianEvaluations});
            w.Key("x").Numbers(k.x);
            w.Key("g").Numbers(k.g);
            w.End('}');
        }
        w.End(']');
        w.Key("records_dropped").Integer(r.recordsDropped);
    }
    if (r.IsFit()) {
        const LeastSquaresFit& fit = r.fit;
        const Uncertainty& u = fit.uncertainty;
        w.Key("fit").Begin('{');
        w.Key("m").Integer(static_cast<long>(fit.m));
        w.Key("status").Integer(fit.status);
        w.Key("status_name").String(fit.statusName);
        w.Key("cost").Number(r.f);
        w.Key("residuals").Numbers(fit.residuals);
        w.Key("jacobian").Numbers(fit.jacobian);
        w.Key("optimality").Number(fit.optimality);
        w.Key("residual_evaluations").Integer(fit.residualEvaluations);
        w.Key("jacobian_evaluations").Integer(fit.jacobianEvaluations);
        w.Key("difference_evaluations").Integer(fit.differenceEvaluations);
        w.Key("loss").String(fit.loss);
        w.Key("loss_scale").Number(fit.lossScale);
        w.Key("attempts").Integer(fit.attempts);
        w.Key("approach").String(fit.approach);
        w.Key("uncertainty").Begin('{');
        w.Key("computed").Bool(u.computed);
        w.Key("dof").Integer(u.dof);
        w.Key("residual_variance").Number(u.residualVariance);
        w.Key("absolute_sigma").Bool(u.absoluteSigma);
        w.Key("rank").Integer(u.rank);
        w.Key("condition_number").Number(u.conditionNumber);
        w.Key("covariance").Numbers(u.covariance);
        w.Key("standard_errors").Numbers(u.standardErrors);
        w.Key("correlation").Numbers(u.correlation);
        w.Key("undetermined").Begin('[');
        for (int k : u.undetermined)
            w.Integer(k);
        w.End(']');
        w.Key("singular_values").Numbers(u.singularValues);
        w.End('}');
        w.End('}');
    }
    if (!r.hessian.empty())
        w.Key("hessian").Numbers(r.hessian);
    if (!r.log.empty())
        w.Key("log").Strings(r.log);
    for (const auto& [key, text] : extra)
        w.Key(key.c_str()).Raw(text);
    w.End('}');
    return w.Take();
}

} // namespace vrn
