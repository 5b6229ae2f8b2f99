// Physical and mathematical constants shared by the engine, the modeler and
// the report, so that every layer converts hertz and conductivity the same way.
#ifndef MATMODEL_FITTING_CONSTANTS_H
#define MATMODEL_FITTING_CONSTANTS_H

namespace matmodel {

/// 2 pi: angular frequency in rad/s is kTwoPi times the frequency in hertz.
inline constexpr double kTwoPi = 6.283185307179586;

/// The permittivity of free space in F/m, as the host defines it.
inline constexpr double kE0 = 8.854187817e-12;

}  // namespace matmodel

#endif  // MATMODEL_FITTING_CONSTANTS_H
