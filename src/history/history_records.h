#pragma once

// The rows the recorder hands from the reception path to the writer thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "state/device_events.h"

namespace qvlink {

/// One change of a TS point's state or flags.
struct TsChange {
    int point = 0;
    std::int64_t rxUs = 0;              ///< reception, microseconds since 1970 UTC
    std::optional<std::int64_t> tagUs;  ///< the item's time tag, when it carried a valid one
    std::string mac;                    ///< device that sent it
    int state = 0;                      ///< the state bit, or both bits of a two-position pair
    int flags = 0;                      ///< the item's flag byte
};

/// A TI point's values within one second (or, once folded under back-pressure, within
/// several consecutive pending seconds, labelled with the first).
struct TiSecond {
    int point = 0;
    std::int64_t second = 0;  ///< unix seconds
    double last = 0.0;
    double min = 0.0;
    double max = 0.0;
    std::int64_t count = 0;
    std::string mac;  ///< device that sent the last value
};

/// What one commit writes: everything pending, and what had to be dropped since the
/// previous commit.
struct RecordBatch {
    std::vector<TsChange> tsChanges;
    std::vector<TiSecond> tiSeconds;
    std::vector<DeviceEvent> events;
    std::uint64_t lostTsChanges = 0;
    std::uint64_t lostEvents = 0;

    bool empty() const {
        return tsChanges.empty() && tiSeconds.empty() && events.empty() && lostTsChanges == 0 &&
               lostEvents == 0;
    }
};

}  // namespace qvlink
