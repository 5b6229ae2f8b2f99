// The sweep one sample at a time, in portable code: the level every processor
// has (the only one off x86-64). Its logarithm is std::log itself. Also
// std::log out of line, for the lanes the vector levels leave to it.
#include <cmath>
#include <cstddef>

#include "modeler/hilbert_sweep.h"

namespace matmodel::detail {
namespace {

// The operations the sweep is written in (see hilbert_sweep.h), on one
// double; masks are bools.
struct Scalar {
    using D = double;
    using M = bool;
    static constexpr std::size_t kLanes = 1;
    static constexpr std::size_t kLockstep = 1;  // vectors a logarithm step takes at once
    static constexpr bool kTableLog = false;

    static D Set1(double a) { return a; }
    static D Load(const double* p) { return *p; }
    static void Store(double* p, D a) { *p = a; }
    static D LaneIndex() { return 0.0; }
    static D Add(D a, D b) { return a + b; }
    static D Sub(D a, D b) { return a - b; }
    static D Mul(D a, D b) { return a * b; }
    static D Abs(D a) { return std::fabs(a); }
    static D Neg(D a) { return -a; }

    static M Ne(D a, D b) { return a != b; }
    static D AddIf(M m, D sum, D t) { return m ? sum + t : sum; }
    static D SubIf(M m, D sum, D t) { return m ? sum - t : sum; }

    static void Transpose(D*) {}

    static D Log(D x) { return std::log(x); }
};

}  // namespace

void HilbertLanesScalar(const LaneWork& work, double* r) {
    lanes::HilbertLanes<Scalar, 4>(work, r);
}

double StdLogOutOfLine(double x) { return std::log(x); }

}  // namespace matmodel::detail
