#pragma once

// TS and TI item decoding and the walks over a datagram's item list.

#include <functional>

#include "common/bus_types.h"

namespace qvlink {

/// Decodes the TS item at payload offset `pos` (number, flags, time tag). Returns the offset
/// of the next item, or 0 when the list ends after this one. Reads past the area yield 0.
int parseTsItem(const PayloadArea& payload, int pos, TTs& item);
/// The same for a TI item (number, flags, value, time tag).
int parseTiItem(const PayloadArea& payload, int pos, TTi& item);

/// Hands every TS item of a class-2 datagram to `visit`, in list order, each attributed to
/// the sending device; other classes hand over nothing. The first item is handed over even
/// when its number is 0: which numbers count is the receiver's rule.
void forEachTsItem(const TPacket& packet, const std::function<void(const TTs&)>& visit);
/// The same for the TI items of a class-1 datagram.
void forEachTiItem(const TPacket& packet, const std::function<void(const TTi&)>& visit);

}  // namespace qvlink
