// The fitted model as two one-line expressions in a frequency variable, for a
// simulator that evaluates Dk(F) and Df(F) itself.
#include <locale>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "modeler/MaterialModeler.h"
#include "modeler/pole_walk.h"

using matmodel::detail::ConstantTerm;
using matmodel::detail::HasFittedModel;
using matmodel::detail::PairStates;
using matmodel::detail::RealState;
using matmodel::detail::WalkPoles;

namespace {

// omega^2 = W2 F^2 and omega^4 = W4 F^4 with omega = 2 pi F; written out so the
// texts do not depend on how a caller's compiler folds TwoPi * TwoPi.
constexpr double kW2 = 39.47841760435743;
constexpr double kW4 = 1558.5454565440389;

// Eight significant digits in the stream's default (%g-like) format: enough for
// a simulator's single-precision evaluation, short enough to read.
constexpr std::streamsize kDigits = 8;

// A pair's term (P s + Q) / (s^2 + R s + S), s = j omega.
struct PairCoefficients {
    double R, S, P, Q;
};

// A real pole's term r / (s + e).
struct RealCoefficients {
    double e, r;
};

void OpenStream(std::ostringstream& os) {
    // Number text must read the same in every process locale: a decimal comma
    // or digit grouping would break the simulator's parser.
    os.imbue(std::locale::classic());
    os.precision(kDigits);
}

// " - 1.5" or " + 1.5": the operator carries the sign, the number its magnitude.
void WriteSign(std::ostream& os, double x) { os << (x < 0 ? "-" : "+"); }
void WriteMagnitude(std::ostream& os, double x) { os << (x < 0 ? -x : x); }

}  // namespace

void MaterialModeler::CreateExpressions(std::string& dfText, std::string& dkText,
                                        const std::string& variable) const {
    if (!HasFittedModel(m_fitterData))
        throw std::runtime_error("Must FitData() before calling CreateExpressions()!");
    const polerat_data& record = *m_fitterData;
    const std::string& v = variable;

    std::ostringstream dk;
    std::ostringstream df;
    OpenStream(dk);
    OpenStream(df);

    // One walk fills both groups, so pairs can be written before real poles
    // whatever order the record keeps them in.
    std::vector<PairCoefficients> pairs;
    std::vector<RealCoefficients> reals;
    WalkPoles(
        record,
        [&](const RealState& p) { reals.push_back({-p.a, p.c0 * p.b0}); },
        [&](const PairStates& p) {
            const double R = p.a * -2.0;
            const double S = p.beta * p.beta + p.a * p.a;
            const double P = p.c1 * p.b1 + p.c0 * p.b0;
            const double Q = (p.c0 * p.b1 - p.c1 * p.b0) * p.beta - P * p.a;
            pairs.push_back({R, S, P, Q});
        });

    // Dk: Re eps. Each pair's numerator and denominator are divided by S^2 so
    // that both denominators start at 1.0.
    dk << ConstantTerm(record);
    for (const PairCoefficients& c : pairs) {
        const double T = c.S * c.S;
        const double N1 = (c.P * c.R - c.Q) / T * kW2;
        const double D1 = (c.R * c.R - c.S * 2.0) / T * kW2;
        const double D2 = kW4 / T;
        dk << " + " << "( " << c.Q / c.S << " ";
        WriteSign(dk, N1);
        dk << " ";
        WriteMagnitude(dk, N1);
        dk << " * " << v << "^2 )/" << "( 1.0 ";
        WriteSign(dk, D1);
        dk << " ";
        WriteMagnitude(dk, D1);
        dk << " * " << v << "^2 + " << D2 << " * " << v << "^4 )";
    }
    for (const RealCoefficients& c : reals) {
        const double G = c.r / c.e;
        const double H = kW2 / (c.e * c.e);
        dk << " ";
        WriteSign(dk, G);
        dk << " ";
        WriteMagnitude(dk, G);
        dk << " / ( 1.0 + " << H << " * " << v << "^2 )";
    }
    std::string dkResult = dk.str();

    // Df: -Im eps / Re eps. Every term of -Im eps is odd in omega, so omega is
    // taken out in front and the pieces share the Dk denominators.
    df << TwoPi << "*" << v << "*(0.0";
    for (const PairCoefficients& c : pairs) {
        const double T = c.S * c.S;
        const double D1 = (c.R * c.R - c.S * 2.0) / T * kW2;
        const double D2 = kW4 / T;
        const double M0 = (c.Q * c.R - c.S * c.P) / T;
        const double M1 = c.P / T * kW2;
        df << " + " << "( " << M0 << " ";
        WriteSign(df, M1);
        df << " ";
        WriteMagnitude(df, M1);
        df << " * " << v << "^2 )/" << "( 1.0 ";
        WriteSign(df, D1);
        df << " ";
        WriteMagnitude(df, D1);
        df << " * " << v << "^2 + " << D2 << " * " << v << "^4 )";
    }
    for (const RealCoefficients& c : reals) {
        const double K = c.r / (c.e * c.e);
        const double H = kW2 / (c.e * c.e);
        df << " + ( " << K << " )/" << "( 1.0 + " << H << " * " << v << "^2 )";
    }
    df << ") / (" << dkResult << ")";
    std::string dfResult = df.str();

    // Both texts are complete; moving them in cannot throw, so the caller never
    // sees one output replaced and the other not.
    dfText = std::move(dfResult);
    dkText = std::move(dkResult);
}
