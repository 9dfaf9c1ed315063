#include "dump/bus_corpus.h"

#include <cstdio>
#include <string_view>

#include "common/cp1251.h"
#include "common/dotted_quad.h"
#include "protocol/command.h"
#include "recording/bus_recorder.h"
#include "support/packet_builder.h"

namespace qvlink::test {

namespace {

Bytes withText(Bytes header, std::string_view text) {
    header.insert(header.end(), text.begin(), text.end());
    header.push_back(0);
    return header;
}

Bytes textDatagram(std::uint8_t type, std::uint32_t address, std::uint8_t seq,
                   std::string_view cp1251) {
    return withText(sequencedDatagram(type, address, seq, kClassText, 0, {}), cp1251);
}

Bytes changeIpCommand() {
    CommandFramer framer;
    DatagramArea area{};
    std::size_t length = 0;
    framer.buildSetIpCommand("FA:CE:01:00:11:22", "10.0.0.77", area, length);
    return Bytes(area.begin(), area.begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace

std::vector<CorpusDatagram> busCorpus() {
    const std::string longText(231, '\xDF');  // "Я" in Windows-1251
    std::string longShown = "Ларта-К:  ";
    for (int i = 0; i < 231; ++i) {
        longShown += "Я";
    }
    Bytes full = textDatagram(18, 0x000002, 2, longText);
    full.pop_back();  // 240 bytes: the text runs to the end, its terminator is the area's
    Bytes overlong = full;
    overlong.push_back(0xDF);

    return {
        {"10.0.0.5", sequencedDatagram(1, 0x001122, 5, 1, 2, {0x07, 0, 0, 0, 0, 0xC0, 0x3F}),
         "Тирон: ТИ цикл"},
        {"10.0.0.60", sequencedDatagram(16, 0x0A003C, 6, 2, 3, {0x0C, 0, 0x01}),
         "Ларта-К: ТС спорадика (12 = вкл)"},
        {"10.0.0.5", sequencedDatagram(1, 0x001122, 6, 1, 3, {3, 0, 0, 0, 0, 0x20, 0xC0}),
         "Тирон: ТИ спорадика (3 = -2.50)"},
        {"192.168.100.254",
         sequencedDatagram(17, 0x000001, 0, 2, 3,
                           {5, 0, 0x09, 0x10, 0x27, 0x1E, 0x0C, 0x0F, 0x06, 0x18, 6, 0, 0x07}),
         "Ровен-8: ТС спорадика (5 = вкл)"},
        {"10.0.0.2", sequencedDatagram(18, 0x000002, 1, 3, 0, {0}), "Ларта-К: ТУ"},
        {"10.0.0.5", sequencedDatagram(1, 0x001122, 7, 4, 0, {0}), "Тирон: Время"},
        {"10.0.0.5", sequencedDatagram(1, 0x001122, 8, 5, 0, {0xF4, 0x01}),
         "Тирон: Запрос тишины 500 мс"},
        {"10.0.0.60", textDatagram(16, 0x0A003C, 7, encodeCp1251("Привет, мир")),
         "Ларта-К:  Привет, мир"},
        {"10.0.0.33", sequencedDatagram(33, 0x000033, 1, 1, 2, {1, 0, 0, 0, 0, 0x80, 0x3F}),
         "Ведра: "},
        {"10.0.0.34", sequencedDatagram(34, 0x000034, 1, 2, 3, {1, 0, 1}), "Ведра: "},
        {"10.0.0.8", classOnlyDatagram(8, 0x010203, 1), "Ларта-Т: Установка времени"},
        {"10.0.0.204", classOnlyDatagram(204, 0x0000CC, 68), "Ларта-С: ТС"},
        {"10.0.0.204", classOnlyDatagram(204, 0x0000CC, 72), "Ларта-С: ТИ"},
        {"10.0.0.204", classOnlyDatagram(204, 0x0000CC, 5), "Ларта-С: "},
        {"10.0.0.5", sequencedDatagram(1, 0x001122, 9, 7, 0, {0}), "Тирон: "},
        {"10.0.0.5", sequencedDatagram(1, 0x001122, 10, 6, 0, {0}), "Тирон:  "},
        {"10.0.0.2", full, longShown},
        {"10.0.0.2", overlong, "[dropped: too long]"},
        {"10.0.0.9", {0xFA, 0xCF, 1, 0, 0x11, 0x22, 5, 2, 3, 0x7F}, "[dropped: bad magic]"},
        {"10.0.0.9", {0xFA}, "[dropped: bad magic]"},
        {"10.0.0.9", {}, "[dropped: bad magic]"},
        {"10.0.0.9", {0xFA, 0xCE, 1, 0, 0, 1, 5, 2, 3}, "[dropped: too short]"},
        {"10.0.0.9", {0xFA, 0xCE, 2, 0, 0, 1, 5, 2, 3, 0}, "[dropped: unknown device type]"},
        {"10.0.0.1", changeIpCommand(), "[dropped: unknown device type]"},
        {"10.0.0.60", sequencedDatagram(16, 0x0A003C, 8, 2, 2, {1, 0, 1, 2, 0, 0, 3, 0, 1}),
         "Ларта-К: ТС цикл"},
        {"10.0.0.60", sequencedDatagram(16, 0x0A003C, 9, 2, 3, {0x2A, 0, 0x07}),
         "Ларта-К: ТС спорадика (42 = авария)"},
        {"10.0.0.5",
         sequencedDatagram(1, 0x001122, 11, 1, 3, {0xF4, 0x01, 0, 0x5A, 0x20, 0xF1, 0x47}),
         "Тирон: ТИ спорадика (500 = 123456.70)"},
        {"10.0.0.5", sequencedDatagram(1, 0x001122, 12, 1, 3, {1, 0, 0, 0, 0, 0, 0x3E}),
         "Тирон: ТИ спорадика (1 = 0.13)"},
        {"10.0.0.5", sequencedDatagram(1, 0x001122, 13, 1, 3, {1, 0, 0, 0, 0, 0, 0xBE}),
         "Тирон: ТИ спорадика (1 = -0.13)"},
        {"10.0.0.5",
         textDatagram(1, 0x001122, 14,
                      "\xA8\xB8\xB9\x80\x98"
                      "A"),
         "Тирон:  Ёё№Ђ\xEF\xBF\xBD"
         "A"},
    };
}

timeval corpusStart() {
    return timeval{1718454600, 0};
}

timeval corpusTime(std::size_t index) {
    return later(corpusStart(), static_cast<long>(index) * 250);
}

std::string corpusTimeText(std::size_t index) {
    const long ms = static_cast<long>(index) * 250;
    char text[32];
    std::snprintf(text, sizeof text, "12:%02ld:%02ld.%03ld", 30 + ms / 60000, ms / 1000 % 60,
                  ms % 1000);
    return text;
}

void writeCorpus(const std::string& path, int dlt, const std::vector<CorpusDatagram>& corpus) {
    CaptureFile file(path, dlt);
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        const std::string& ip = corpus[i].ip;
        unsigned a = 0, b = 0, c = 0, d = 0;
        std::sscanf(ip.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
        UdpEndpoints endpoints;
        endpoints.sourceIp = (a << 24) | (b << 16) | (c << 8) | d;
        file.addDatagram(corpusTime(i), corpus[i].bytes, endpoints);
    }
}

void recordCorpus(const std::string& path, const std::vector<CorpusDatagram>& corpus) {
    BusRecorder recorder(path, {}, {});
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        const timeval time = corpusTime(i);
        recorder.record(
            std::int64_t{time.tv_sec} * 1'000'000 + time.tv_usec,
            {*parseDottedQuad(corpus[i].ip), kBusPort, UdpEndpoints{}.destinationIp, kBusPort},
            corpus[i].bytes, corpus[i].bytes.size());
    }
}

std::string hexText(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

}  // namespace qvlink::test
