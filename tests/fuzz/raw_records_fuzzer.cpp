// Fuzz target: a message of the raw datagram topic as a hostile broker might deliver it. The
// reader must stay within the message, and what it delivers must be exactly the front of the
// message: encoded again, the records give back those bytes, and all of them when the reader
// found no fault.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "mqtt/raw_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qvlink;
    const std::span<const std::uint8_t> message(data, size);
    std::vector<std::uint8_t> again;
    const RawMessageSummary summary = readRawRecords(message, [&](const RawRecord& record) {
        QVLINK_FUZZ_CHECK(record.datagram.data() >= data);
        QVLINK_FUZZ_CHECK(record.datagram.data() + record.datagram.size() <= data + size);
        QVLINK_FUZZ_CHECK(appendRawRecord(again, record));
    });
    QVLINK_FUZZ_CHECK(again.size() <= size);
    QVLINK_FUZZ_CHECK(std::equal(again.begin(), again.end(), data));
    QVLINK_FUZZ_CHECK((summary.fault == RawMessageFault::None) ==
                      (size > 0 && again.size() == size));
    QVLINK_FUZZ_CHECK(summary.fault != RawMessageFault::Empty || size == 0);
    return 0;
}
