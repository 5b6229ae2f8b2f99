// The tests' way into a MaterialModeler's protected state.
#ifndef MATMODEL_TESTS_PROBE_H
#define MATMODEL_TESTS_PROBE_H

#include "modeler/ModelerAccess.h"

using Probe = ModelerAccess;

#endif  // MATMODEL_TESTS_PROBE_H
