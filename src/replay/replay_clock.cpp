#include "replay/replay_clock.h"

namespace qvlink {

Clock ReplayClock::localClock() const {
    return [this] { return localTimeOf(nowMicros()); };
}

EpochClock ReplayClock::epochClock() const {
    return [this] { return nowMicros(); };
}

ElapsedClock ReplayClock::elapsedClock() const {
    return [this] { return nowMicros() / 1000; };
}

}  // namespace qvlink
