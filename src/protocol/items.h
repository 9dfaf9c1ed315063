#pragma once

// TS and TI item decoding and the walks that store a datagram's items into the tables.

#include "common/bus_types.h"
#include "state/teleparam_tables.h"

namespace qvlink {

/// Decodes the TS item at payload offset `pos` (number, flags, time tag). Returns the offset
/// of the next item, or 0 when the list ends after this one. Reads past the area yield 0.
int parseTsItem(const PayloadArea& payload, int pos, TTs& item);
/// The same for a TI item (number, flags, value, time tag).
int parseTiItem(const PayloadArea& payload, int pos, TTi& item);

/// Stores every TS item of a class-2 datagram, in list order; other classes do nothing.
void processTsPacket(const TPacket& packet, TeleparamTables& tables);
/// Stores every TI item of a class-1 datagram, in list order; other classes do nothing.
void processTiPacket(const TPacket& packet, TeleparamTables& tables);

}  // namespace qvlink
