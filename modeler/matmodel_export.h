// Symbol export for the matmodel library. A shared build on Windows exports
// the classes from the DLL; elsewhere default visibility is enough.
#ifndef MATMODEL_MODELER_MATMODEL_EXPORT_H
#define MATMODEL_MODELER_MATMODEL_EXPORT_H

#if defined(_WIN32) && defined(MATMODEL_SHARED)
#  if defined(MATMODEL_BUILDING)
#    define MATMODEL_API __declspec(dllexport)
#  else
#    define MATMODEL_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define MATMODEL_API __attribute__((visibility("default")))
#else
#  define MATMODEL_API
#endif

#endif  // MATMODEL_MODELER_MATMODEL_EXPORT_H
