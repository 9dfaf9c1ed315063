#include "replay/replay_player.h"

namespace qvlink {
namespace {

/// Time between passes while playing at a set speed.
constexpr int kPassMillis = 20;
/// Share of a pass spent replaying as fast as possible; the rest is the windows'.
constexpr qint64 kFastSliceMillis = 15;

}  // namespace

ReplayPlayer::ReplayPlayer(ReplayEngine& engine, QObject* parent)
    : QObject(parent), m_engine(engine) {
    m_timer.setInterval(kPassMillis);
    connect(&m_timer, &QTimer::timeout, this, &ReplayPlayer::pass);
}

void ReplayPlayer::play() {
    m_engine.setPlaying(true);
    if (m_engine.isPlaying()) {
        m_sincePass.start();
        m_timer.start(m_engine.speed() == ReplayEngine::kAsFastAsPossible ? 0 : kPassMillis);
    }
    emit progressed();
}

void ReplayPlayer::pause() {
    m_engine.setPlaying(false);
    m_timer.stop();
    emit progressed();
}

void ReplayPlayer::step() {
    pause();
    m_engine.step();
    emit progressed();
}

void ReplayPlayer::seek(std::int64_t micros) {
    m_engine.seek(micros);
    m_sincePass.start();  // playing on from there, not ahead by the time the seek took
    emit progressed();
}

void ReplayPlayer::setSpeed(int factor) {
    m_engine.setSpeed(factor);
    if (m_engine.isPlaying()) {
        play();  // the pass interval follows the speed
    } else {
        emit progressed();
    }
}

void ReplayPlayer::pass() {
    if (m_engine.speed() == ReplayEngine::kAsFastAsPossible) {
        QElapsedTimer slice;
        slice.start();
        while (m_engine.isPlaying() && slice.elapsed() < kFastSliceMillis) {
            m_engine.advance(0);
        }
    } else {
        m_engine.advance(m_sincePass.restart());
    }
    if (!m_engine.isPlaying()) {
        m_timer.stop();
    }
    emit progressed();
}

}  // namespace qvlink
