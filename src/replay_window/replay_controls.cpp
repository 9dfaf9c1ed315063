#include "replay_window/replay_controls.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <array>

#include "replay/replay_player.h"
#include "replay/replay_position.h"

namespace qvlink {
namespace {

struct SpeedChoice {
    const char* text;
    int factor;
};

constexpr std::array<SpeedChoice, 4> kSpeeds{{
    {"1x", 1},
    {"10x", 10},
    {"100x", 100},
    {"Максимальная", ReplayEngine::kAsFastAsPossible},
}};

constexpr std::int64_t kMicrosPerSecond = 1'000'000;

}  // namespace

ReplayControls::ReplayControls(ReplayPlayer& player, FormatSettings format, QWidget* parent)
    : QWidget(parent), m_player(player), m_format(std::move(format)) {
    BPlay = new QPushButton(this);
    BStep = new QPushButton(QStringLiteral("Следующий пакет"), this);
    BStep->setToolTip(QStringLiteral("Принять следующий пакет записи (на паузе)"));
    CSpeed = new QComboBox(this);
    for (const SpeedChoice& speed : kSpeeds) {
        CSpeed->addItem(QString::fromUtf8(speed.text), speed.factor);
    }
    SPosition = new QSlider(Qt::Horizontal, this);
    const ReplayEngine& engine = m_player.engine();
    SPosition->setRange(
        0, static_cast<int>((engine.endMicros() - engine.startMicros()) / kMicrosPerSecond));
    LPosition = new QLabel(this);
    LDatagrams = new QLabel(this);

    auto* layout = new QGridLayout(this);
    layout->addWidget(BPlay, 0, 0);
    layout->addWidget(BStep, 0, 1);
    layout->addWidget(new QLabel(QStringLiteral("Скорость:"), this), 0, 2);
    layout->addWidget(CSpeed, 0, 3);
    layout->addWidget(SPosition, 1, 0, 1, 4);
    layout->addWidget(LPosition, 2, 0, 1, 2);
    layout->addWidget(LDatagrams, 2, 2, 1, 2);

    connect(BPlay, &QPushButton::clicked, this, [this] { togglePlay(); });
    connect(BStep, &QPushButton::clicked, this, [this] { m_player.step(); });
    connect(CSpeed, &QComboBox::activated, this, [this](int index) { speedChosen(index); });
    connect(SPosition, &QSlider::sliderReleased, this, [this] { positionChosen(); });
    connect(SPosition, &QSlider::actionTriggered, this, [this] {
        if (!SPosition->isSliderDown()) {
            // Keys and clicks beside the handle move it only after this signal.
            QMetaObject::invokeMethod(
                this, [this] { positionChosen(); }, Qt::QueuedConnection);
        }
    });
    connect(&m_player, &ReplayPlayer::progressed, this, [this] { showState(); });
    showState();
}

void ReplayControls::showState() {
    const ReplayEngine& engine = m_player.engine();
    BPlay->setText(engine.isPlaying() ? QStringLiteral("Пауза") : QStringLiteral("Пуск"));
    BPlay->setEnabled(engine.isPlaying() || !engine.atEnd());
    BStep->setEnabled(!engine.isPlaying() && !engine.atEnd());
    CSpeed->setCurrentIndex(CSpeed->findData(engine.speed()));
    if (!SPosition->isSliderDown()) {
        const QSignalBlocker quiet(SPosition);
        SPosition->setValue(
            static_cast<int>((engine.positionMicros() - engine.startMicros()) / kMicrosPerSecond));
    }
    LPosition->setText(QString::fromStdString(replayPositionText(
        engine.positionMicros(), engine.startMicros(), engine.endMicros(), m_format)));
    LDatagrams->setText(QStringLiteral("Пакетов: %1 из %2")
                            .arg(engine.deliveredCount())
                            .arg(engine.datagramCount()));
}

void ReplayControls::togglePlay() {
    if (m_player.engine().isPlaying()) {
        m_player.pause();
    } else {
        m_player.play();
    }
}

void ReplayControls::speedChosen(int index) {
    m_player.setSpeed(CSpeed->itemData(index).toInt());
}

void ReplayControls::positionChosen() {
    const ReplayEngine& engine = m_player.engine();
    m_player.seek(engine.startMicros() + std::int64_t{SPosition->value()} * kMicrosPerSecond);
}

}  // namespace qvlink
