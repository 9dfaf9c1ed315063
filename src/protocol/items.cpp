#include "protocol/items.h"

#include "protocol/payload_reader.h"

namespace qvlink {
namespace {

/// Reads the 7-byte wire time tag at `pos` (msec, minute, hour, day, month, year).
TTimeTag readTimeTag(const PayloadReader& reader, int pos) {
    TTimeTag tag;
    tag.msec = reader.u16(pos);
    tag.minute = reader.byte(pos + 2);
    tag.hour = reader.byte(pos + 3);
    tag.day = reader.byte(pos + 4);
    tag.month = reader.byte(pos + 5);
    tag.year = reader.byte(pos + 6);
    return tag;
}

/// Reads the optional time tag announced by `flags` at `pos`; returns the offset after it.
int readOptionalTimeTag(const PayloadReader& reader, int pos, std::uint8_t flags, TTimeTag& tag) {
    if ((flags & kTimeTagFollows) == 0) {
        tag = TTimeTag{};
        return pos;
    }
    tag = readTimeTag(reader, pos);
    return pos + static_cast<int>(kTimeTagSize);
}

/// An item starting outside the area is read at the area's end, where every byte is 0: it
/// decodes all zero and ends the list (and offsets stay far from integer overflow).
int clampToArea(int pos) {
    return pos < 0 || pos > static_cast<int>(kPayloadAreaSize) ? static_cast<int>(kPayloadAreaSize)
                                                               : pos;
}

/// The list ends where the next item's number bytes are both zero.
int nextItemOffset(const PayloadReader& reader, int pos) {
    return reader.u16(pos) == 0 ? 0 : pos;
}

/// Decodes items from offset 0 and hands over each, the last one included, until the list
/// ends or the next item would start past the payload area.
template <typename Item, typename Parse, typename Visit>
void walkItems(const TPacket& packet, Parse parse, const Visit& visit) {
    Item item;
    item.macAddr = packet.macAddr;
    int pos = 0;
    do {
        pos = parse(packet.payload, pos, item);
        visit(item);
    } while (pos != 0 && pos < static_cast<int>(kPayloadAreaSize));
}

}  // namespace

int parseTsItem(const PayloadArea& payload, int pos, TTs& item) {
    const PayloadReader reader(payload);
    pos = clampToArea(pos);
    item.number = reader.u16(pos);
    item.flags = reader.byte(pos + 2);
    pos =
        readOptionalTimeTag(reader, pos + static_cast<int>(kTsItemSize), item.flags, item.timeTag);
    return nextItemOffset(reader, pos);
}

int parseTiItem(const PayloadArea& payload, int pos, TTi& item) {
    const PayloadReader reader(payload);
    pos = clampToArea(pos);
    item.number = reader.u16(pos);
    item.flags = reader.byte(pos + 2);
    item.value = reader.f32(pos + 3);
    pos =
        readOptionalTimeTag(reader, pos + static_cast<int>(kTiItemSize), item.flags, item.timeTag);
    return nextItemOffset(reader, pos);
}

void forEachTsItem(const TPacket& packet, const std::function<void(const TTs&)>& visit) {
    if (packet.msgClass == kClassTs) {
        walkItems<TTs>(packet, parseTsItem, visit);
    }
}

void forEachTiItem(const TPacket& packet, const std::function<void(const TTi&)>& visit) {
    if (packet.msgClass == kClassTi) {
        walkItems<TTi>(packet, parseTiItem, visit);
    }
}

}  // namespace qvlink
