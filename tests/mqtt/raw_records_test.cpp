#include "mqtt/raw_records.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvlink {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
    std::uint64_t captureMicros;
    std::uint32_t senderIp;
    std::uint16_t senderPort;
    Bytes datagram;

    bool operator==(const Decoded&) const = default;
};

RawMessageSummary decode(const Bytes& message, std::vector<Decoded>& records) {
    return readRawRecords(message, [&](const RawRecord& record) {
        records.push_back({record.captureMicros, record.senderIp, record.senderPort,
                           Bytes(record.datagram.begin(), record.datagram.end())});
    });
}

TEST(RawRecords, OneRecordHasTheDocumentedBytes) {
    const Bytes datagram{0xAA, 0xBB, 0xCC};
    Bytes message;
    ASSERT_TRUE(appendRawRecord(message, {0x0102030405060708, 0x0A000005, 973, datagram}));
    const Bytes expected{1,    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,  // version, time
                         10,   0,    0,    5,                                   // sender
                         0x03, 0xCD,                                            // port 973
                         0x00, 0x03,                                            // length
                         0xAA, 0xBB, 0xCC};
    EXPECT_EQ(message, expected);
}

TEST(RawRecords, RecordsOfOneMessageComeBackInOrder) {
    const std::vector<Decoded> sent{
        {1765300000123456, 0x7F000001, 973, {1, 2, 3, 4}},
        {0, 0, 0, {}},  // an empty datagram is still a datagram
        {~std::uint64_t{0}, 0xFFFFFFFF, 65535, Bytes(kMaxRawDatagramSize, 0x5A)},
        {42, 0xC0A80001, 1, {0}},
    };
    Bytes message;
    for (const Decoded& record : sent) {
        ASSERT_TRUE(appendRawRecord(
            message, {record.captureMicros, record.senderIp, record.senderPort, record.datagram}));
    }
    std::vector<Decoded> received;
    const RawMessageSummary summary = decode(message, received);
    EXPECT_EQ(summary.fault, RawMessageFault::None);
    EXPECT_EQ(summary.records, sent.size());
    EXPECT_EQ(received, sent);
}

TEST(RawRecords, DatagramLongerThanUdpAllowsIsNotEncoded) {
    Bytes message{9};
    const Bytes tooLong(kMaxRawDatagramSize + 1, 0);
    EXPECT_FALSE(appendRawRecord(message, {1, 2, 3, tooLong}));
    EXPECT_EQ(message, Bytes{9});
}

/// A valid record of `length` datagram bytes.
Bytes record(std::size_t length = 2) {
    Bytes bytes;
    const Bytes datagram(length, 0x11);
    appendRawRecord(bytes, {7, 0x7F000001, 973, datagram});
    return bytes;
}

Bytes operator+(Bytes left, const Bytes& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

Bytes cut(Bytes bytes, std::size_t removed) {
    bytes.resize(bytes.size() - removed);
    return bytes;
}

/// A record header that states `length` bytes of datagram.
Bytes headerStating(std::uint16_t length) {
    Bytes header = record(0);
    header[15] = static_cast<std::uint8_t>(length >> 8);
    header[16] = static_cast<std::uint8_t>(length);
    return header;
}

struct MalformedRow {
    const char* name;
    Bytes message;
    std::size_t recordsBefore;
    RawMessageFault fault;
};

void PrintTo(const MalformedRow& row, std::ostream* out) {
    *out << row.name;
}

class RawRecordsMalformed : public testing::TestWithParam<MalformedRow> {};

TEST_P(RawRecordsMalformed, StopsAtTheFaultAfterDeliveringTheRecordsBefore) {
    const MalformedRow& row = GetParam();
    std::vector<Decoded> received;
    const RawMessageSummary summary = decode(row.message, received);
    EXPECT_EQ(summary.fault, row.fault) << rawMessageFaultName(summary.fault);
    EXPECT_EQ(summary.records, row.recordsBefore);
    EXPECT_EQ(received.size(), row.recordsBefore);
}

Bytes withVersion(std::uint8_t version) {
    Bytes bytes = record();
    bytes[0] = version;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RawRecordsMalformed,
    testing::Values(
        MalformedRow{"Empty", {}, 0, RawMessageFault::Empty},
        MalformedRow{"VersionZero", withVersion(0), 0, RawMessageFault::UnknownVersion},
        MalformedRow{"VersionTwo", withVersion(2), 0, RawMessageFault::UnknownVersion},
        MalformedRow{"SecondRecordOtherVersion", record() + withVersion(2), 1,
                     RawMessageFault::UnknownVersion},
        MalformedRow{"VersionByteOnly", {1}, 0, RawMessageFault::TruncatedHeader},
        MalformedRow{"HeaderOneShort", cut(record(0), 1), 0, RawMessageFault::TruncatedHeader},
        MalformedRow{"SecondHeaderCut", record() + cut(record(0), 5), 1,
                     RawMessageFault::TruncatedHeader},
        MalformedRow{"BodyOneShort", cut(record(10), 1), 0, RawMessageFault::TruncatedBody},
        MalformedRow{"BodyMissing", headerStating(100), 0, RawMessageFault::TruncatedBody},
        MalformedRow{"SecondBodyShort", record() + cut(record(3), 2), 1,
                     RawMessageFault::TruncatedBody},
        MalformedRow{"LengthBeyondUdp", headerStating(65508) + Bytes(65508, 0), 0,
                     RawMessageFault::OversizeLength},
        MalformedRow{"LengthAllOnes", record() + headerStating(0xFFFF), 1,
                     RawMessageFault::OversizeLength},
        MalformedRow{"TrailingGarbageByte", record() + Bytes{0x7E}, 1,
                     RawMessageFault::UnknownVersion}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvlink
