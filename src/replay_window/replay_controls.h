#pragma once

#include <QWidget>

#include "common/rendering.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace qvlink {

class ReplayPlayer;

/// The controls of a replay: play/pause, the speed, a slider over the capture's time, a
/// step to the next datagram, and where the replay stands.
class ReplayControls : public QWidget {
    Q_OBJECT

public:
    /// Controls `player`, which outlives the widget.
    ReplayControls(ReplayPlayer& player, FormatSettings format, QWidget* parent = nullptr);

    QPushButton* BPlay;
    QPushButton* BStep;
    QComboBox* CSpeed;
    QSlider* SPosition;
    QLabel* LPosition;
    QLabel* LDatagrams;

    /// Shows the player's state; called on every change of it.
    void showState();

private:
    void togglePlay();
    void speedChosen(int index);
    /// The slider's value as a position, applied once the slider is let go.
    void positionChosen();

    ReplayPlayer& m_player;
    FormatSettings m_format;
};

}  // namespace qvlink
