// The tests' way into a MaterialModeler's protected state, and a hand-made
// engine record with known poles and residues.
#ifndef MATMODEL_TESTS_PROBE_H
#define MATMODEL_TESTS_PROBE_H

#include "modeler/ModelerAccess.h"

using Probe = ModelerAccess;

// A hand-made record as the engine would store it: a real pole at -3
// (residue 6), the pair -1 +/- 2j (residue 1 -/+ 1.5j) and d = 2.5. Made with
// new, for InstallRecord.
inline polerat_data* ExampleRecord() {
    auto* r = new polerat_data();
    r->pole_re = {-3.0, -1.0, -1.0};
    r->pole_im = {0.0, 2.0, -2.0};
    r->b = {{6.0}, {2.0}, {3.0}};
    r->c = {{1.0, 1.0, 0.0}};
    r->d = {{2.5}};
    return r;
}

#endif  // MATMODEL_TESTS_PROBE_H
