#pragma once

// Golden bus datagrams of every family, malformed ones included, with the text the capture
// tool shows for each in place of the description.

#include <sys/time.h>

#include <string>
#include <vector>

#include "dump/capture_file.h"

namespace qvlink::test {

struct CorpusDatagram {
    std::string ip;
    Bytes bytes;
    std::string shown;  ///< description, or "[dropped: <reason>]"
};

std::vector<CorpusDatagram> busCorpus();

/// 2024-06-15 12:30:00.000 UTC; corpus datagram i is captured 250 ms * i later.
timeval corpusStart();
timeval corpusTime(std::size_t index);
/// "12:30:00.250" for index 1, as shown with TZ=UTC.
std::string corpusTimeText(std::size_t index);

/// Writes the corpus as a capture of link type `dlt`.
void writeCorpus(const std::string& path, int dlt, const std::vector<CorpusDatagram>& corpus);

/// Writes the corpus as the monitor records what its endpoint receives: the datagrams sent
/// to the bus port by the corpus's senders, at the corpus's times.
void recordCorpus(const std::string& path, const std::vector<CorpusDatagram>& corpus);

/// "FA CE 01" for {0xFA, 0xCE, 0x01}.
std::string hexText(const Bytes& bytes);

}  // namespace qvlink::test
