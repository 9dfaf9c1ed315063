#pragma once

#include <QKeySequence>
#include <QWidget>
#include <cstdint>

#include "busstats/bus_statistics.h"
#include "common/rendering.h"

class QTableView;

namespace qvlink {

class StatisticsModel;

/// "Статистика шины": the devices with their traffic and rhythm, and the bus totals (traffic
/// by device type and class, drops by reason). Both tables sort by any column and copy their
/// selection with Ctrl+C as tab-separated text. The monitor's one-second tick refreshes it
/// while it is shown.
class BusStatisticsWindow : public QWidget {
    Q_OBJECT

public:
    explicit BusStatisticsWindow(FormatSettings format, QWidget* parent = nullptr);

    /// Shows the window in front, or brings it there.
    void showInFront();
    /// Redraws both tables as of `nowMs` on the statistics' clock.
    void refresh(const BusStatistics& statistics, std::int64_t nowMs);

    QTableView* devicesView() const { return m_devicesView; }
    QTableView* totalsView() const { return m_totalsView; }

private:
    QTableView* addTable(StatisticsModel* model);

    FormatSettings m_format;
    StatisticsModel* m_devices;
    StatisticsModel* m_totals;
    QTableView* m_devicesView;
    QTableView* m_totalsView;
};

}  // namespace qvlink
