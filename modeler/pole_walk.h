// The walk over the states of a fitted record, shared by the result readers
// and the expression writer. Internal to the modeler; not installed.
//
// States are visited in record order. A state k that is not the last and has a
// nonzero pole_im (NaN counts as nonzero) opens a complex-conjugate pair with
// state k+1, whose own pole entries are never read. Every other state is a real
// pole; a nonzero pole_im on the last state has no partner and is ignored.
#ifndef MATMODEL_MODELER_POLE_WALK_H
#define MATMODEL_MODELER_POLE_WALK_H

#include <cstddef>

#include "fitting/polerat.h"

namespace matmodel::detail {

/// A real pole a with the input and output maps of its state k.
struct RealState {
    std::size_t k;
    double a;
    double b0;
    double c0;
};

/// The pair a +/- j beta held by states k and k+1.
struct PairStates {
    std::size_t k;
    double a;
    double beta;
    double b0;
    double b1;
    double c0;
    double c1;
};

/// A record from which results can be read: it exists and has a constant term.
inline bool HasFittedModel(const polerat_data* record) {
    return record != nullptr && !record->d.empty();
}

/// The constant term d[0][0]. Bounds-tested: a record whose first row of d is
/// empty is malformed, and we would rather throw than read past it.
inline double ConstantTerm(const polerat_data& record) { return record.d.front().at(0); }

/// Calls onReal(RealState) or onPair(PairStates) for each state or pair, in
/// record order. Only the sizes of pole_re decide the walk's length; the other
/// lists are read with bounds-tested access so a malformed record throws
/// std::out_of_range rather than reading past its end.
template <typename OnReal, typename OnPair>
void WalkPoles(const polerat_data& record, OnReal&& onReal, OnPair&& onPair) {
    const std::size_t n = record.pole_re.size();
    std::size_t k = 0;
    while (k < n) {
        const double im = record.pole_im.at(k);
        if (k != n - 1 && im != 0.0) {
            onPair(PairStates{k, record.pole_re[k], im, record.b.at(k).at(0),
                              record.b.at(k + 1).at(0), record.c.at(0).at(k),
                              record.c.at(0).at(k + 1)});
            k += 2;
        } else {
            onReal(RealState{k, record.pole_re[k], record.b.at(k).at(0), record.c.at(0).at(k)});
            k += 1;
        }
    }
}

}  // namespace matmodel::detail

#endif  // MATMODEL_MODELER_POLE_WALK_H
