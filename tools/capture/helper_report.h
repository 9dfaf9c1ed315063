#pragma once

// What the capture helper says on its standard error when it ends without a failure: how many
// frames the kernel dropped because the helper fell behind.

#include <cstdint>
#include <string>

namespace qvlink::capture {

/// The helper's closing line for `frames` dropped frames (more than none).
std::string kernelDropsLine(std::uint64_t frames);

/// Takes the closing line out of the helper's `message`, leaving whatever else it said;
/// returns the frames it names, or 0 when there is none.
std::uint64_t takeKernelDrops(std::string& message);

}  // namespace qvlink::capture
