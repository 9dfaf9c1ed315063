#pragma once

namespace qvlink {

/// Makes the metric-compatible Tahoma face that Debian ships outside the font configuration
/// (package fonts-wine) available to the windows. Arial is matched by Liberation Sans
/// through the font configuration itself.
void registerTahomaFace();

}  // namespace qvlink
