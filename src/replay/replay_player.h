#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>

#include "replay/replay_engine.h"

namespace qvlink {

/// Drives a replay engine from the event loop. Each pass hands over what the wall-clock time
/// since the last one covers at the engine's speed; as fast as possible, batches for a slice
/// of the pass, so the windows keep answering and paint at their own pace.
class ReplayPlayer : public QObject {
    Q_OBJECT

public:
    /// Drives `engine`, which outlives the player.
    explicit ReplayPlayer(ReplayEngine& engine, QObject* parent = nullptr);

    ReplayEngine& engine() { return m_engine; }

    void play();
    void pause();
    /// What the engine's step and seek do, with the controls told.
    void step();
    void seek(std::int64_t micros);
    void setSpeed(int factor);

signals:
    /// The position, the play state or the speed changed.
    void progressed();

private:
    void pass();

    ReplayEngine& m_engine;
    QTimer m_timer;
    QElapsedTimer m_sincePass;
};

}  // namespace qvlink
