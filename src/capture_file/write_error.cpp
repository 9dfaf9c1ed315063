#include "capture_file/write_error.h"

#include <cerrno>
#include <cstring>

namespace qvlink {

void throwWriteError(const std::string& path) {
    throw WriteError("cannot write " + path + ": " + std::strerror(errno));
}

}  // namespace qvlink
