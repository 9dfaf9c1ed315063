#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/rendering.h"
#include "state/teleparam_tables.h"
#include "trend/trend_loader.h"
#include "trend/trend_series.h"
#include "ui/dialogs.h"

class QCPAbstractItem;
class QCPAxis;
class QCPAxisRect;
class QCPGraph;
class QCustomPlot;
class QHBoxLayout;
class QLabel;
class QTimer;

namespace qvlink {

/// The trend plot: one series per TS/TI point, the stored past and the live present on one
/// time axis, the bus's health in a band beneath. Follows the last minutes until the user
/// zooms or pans, then stays put until "Сейчас".
class TrendWindow : public QWidget {
    Q_OBJECT

public:
    /// Width of the followed range when the window opens.
    static constexpr std::int64_t kDefaultWidthUs = 10LL * 60 * 1'000'000;
    /// Buckets a load asks for: more than the plot has pixels across.
    static constexpr int kBuckets = 2000;

    TrendWindow(std::string historyPath, EpochClock clock, FormatSettings format, Dialogs dialogs,
                QWidget* parent = nullptr);
    ~TrendWindow() override;

    /// Adds a series for `point` unless it has one, and loads the shown range.
    void addPoint(PointId point);
    /// Values the monitor received just now.
    void liveTs(const TTs& item);
    void liveTi(const TTi& item);

    /// Follows the present again with the current width ("Сейчас").
    void followNow();
    /// Shows the last `widthUs` and follows (the range presets).
    void showLast(std::int64_t widthUs);
    /// Shows `span` and stops following, as a zoom or pan does.
    void showSpan(TimeSpan span);
    /// Draws the series and the band as they are now.
    void redraw();

    bool isFollowing() const { return m_following; }
    TimeSpan shownSpan() const;
    const std::vector<std::unique_ptr<TrendSeries>>& series() const { return m_series; }
    /// Generation of the last load applied; each load request raises `requestedGeneration`.
    std::uint64_t appliedGeneration() const { return m_appliedGeneration; }
    std::uint64_t requestedGeneration() const { return m_requestedGeneration; }
    QCustomPlot* plot() const { return m_plot; }
    QLabel* readout() const { return m_readout; }
    /// Readout text for the time under the mouse.
    QString readoutText(std::int64_t timeUs) const;

    void BSaveCsvClick();
    void BSavePngClick();

signals:
    /// A load from the store was drawn.
    void historyApplied();

private:
    void createControls();
    void addButton(QHBoxLayout& row, const QString& text, const std::function<void()>& handler);
    QCPGraph* addGraph(const TrendSeries& series);
    void requestLoad();
    void applyLoad(const TrendResult& result);
    void tick();
    void setShownSpan(TimeSpan span);
    void stopFollowing();
    void userMovedRange();
    void drawBand();
    void clearBand();
    void bandRect(TimeSpan span, double bottom, double top, const QColor& color);
    void bandLine(std::int64_t timeUs, double bottom, double top, const QColor& color);
    void guarded(const std::function<void()>& handler);

    EpochClock m_clock;
    FormatSettings m_format;
    Dialogs m_dialogs;
    std::vector<std::unique_ptr<TrendSeries>> m_series;
    std::vector<QCPGraph*> m_graphs;
    std::vector<std::string> m_bandMacs;
    TrendResult m_band;
    std::vector<QCPAbstractItem*> m_bandItems;
    std::int64_t m_widthUs = kDefaultWidthUs;
    bool m_following = true;
    bool m_settingRange = false;
    std::uint64_t m_requestedGeneration = 0;
    std::uint64_t m_appliedGeneration = 0;
    int m_ticksSinceLoad = 0;

    QCustomPlot* m_plot;
    QCPAxisRect* m_bandRect;
    QLabel* m_readout;
    QTimer* m_refresh;
    QTimer* m_reloadDelay;
    SaveDialogSettings m_pngDialog;
    SaveDialogSettings m_csvDialog;
    // Last: its thread stops before anything its deliveries reach goes away.
    std::unique_ptr<TrendLoader> m_loader;
};

}  // namespace qvlink
