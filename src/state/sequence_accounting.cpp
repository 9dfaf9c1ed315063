#include "state/sequence_accounting.h"

namespace qvlink {

SequenceEvent classifySequence(std::uint8_t last, std::uint8_t next) {
    // A restarting device numbers its datagrams from 0 or 1 again. Coming from the number
    // just before (255 -> 0, 0 -> 1) or repeating it is normal; coming from the number two
    // before (254 -> 0, 255 -> 1) is a lost datagram across the wrap.
    if (next == 0 || next == 1) {
        const std::uint8_t previous = static_cast<std::uint8_t>(next - 1);
        const std::uint8_t twoBefore = static_cast<std::uint8_t>(next - 2);
        if (last == previous || last == next) {
            return SequenceEvent::None;
        }
        return last == twoBefore ? SequenceEvent::Missed : SequenceEvent::Restart;
    }
    // A forward jump counts one miss however many numbers it skips; stepping back to 2 or
    // more (including 255 -> 2) counts nothing.
    return next > last + 1 ? SequenceEvent::Missed : SequenceEvent::None;
}

}  // namespace qvlink
