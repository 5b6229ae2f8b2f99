// Writing an output file so that it is either complete or absent.
#ifndef MATMODEL_IO_ATOMIC_FILE_H
#define MATMODEL_IO_ATOMIC_FILE_H

#include <string>
#include <string_view>

namespace matmodel {

/// Writes `content` to a temporary file next to `path`, then renames it onto
/// `path`: a reader never sees a half-written file, and a failure leaves an
/// earlier file of that name untouched. Throws std::runtime_error
/// "cannot write PATH: REASON".
void WriteFileAtomically(const std::string& path, std::string_view content);

}  // namespace matmodel

#endif  // MATMODEL_IO_ATOMIC_FILE_H
