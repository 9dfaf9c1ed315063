#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "app/bus_reception.h"
#include "app/details_panel.h"
#include "app/monitor_settings.h"
#include "app/qt_dispatcher.h"
#include "busstats/bus_statistics.h"
#include "busstats/elapsed_clock.h"
#include "capture_file/udp_frame.h"
#include "command_watch/command_watch.h"
#include "common/clock.h"
#include "common/rendering.h"
#include "mqtt/raw_records.h"
#include "net/background_post.h"
#include "net/http_client.h"
#include "net/udp_server.h"
#include "protocol/command.h"
#include "replay/replay_engine.h"
#include "state/device_registry.h"
#include "state/teleparam_tables.h"
#include "trend/trend_loader.h"
#include "ui/dialogs.h"

class QGroupBox;
class QMenu;
class QPushButton;
class QTimer;

namespace qvlink {

class BusRecording;
class BusStatisticsWindow;
class GridView;
class TFTrace;
class TrendWindow;

/// The main window: the live device, TS and TI tables, the details panel with the device
/// commands, and the bus endpoint that feeds them; or, replaying a capture, the replay.
class TFMain : public QWidget, public ReplayTarget {
    Q_OBJECT

public:
    /// Builds the window with every control in place, then runs FormCreate (activates the
    /// endpoint and numbers the point rows). A failed activation is shown through
    /// `dialogs.error` and the window goes on without reception. `elapsed` times datagrams
    /// for the bus statistics; `epoch` stamps device events and history. Replaying, neither
    /// the endpoint nor the refresh timer starts.
    TFMain(MonitorSettings settings, Clock clock, FormatSettings format, Dialogs dialogs,
           ElapsedClock elapsed = steadyMilliseconds, EpochClock epoch = systemEpochMicros,
           QWidget* parent = nullptr);
    ~TFMain() override;

    /// The trace that the reception pipeline offers every accepted datagram to.
    void setTraceWindow(TFTrace* trace) { m_trace = trace; }
    /// Records the bus into `recorder` (which outlives the window) from now on.
    void recordHistory(HistoryRecorder& recorder) { m_reception.recordHistory(recorder, m_epoch); }
    /// What happens to the devices, for every reader of device events.
    DeviceEventSource& deviceEvents() { return m_registry.events(); }
    /// Where the monitor's own messages go (the event log): text, and whether it needs the
    /// user's attention.
    using NoticeSink = std::function<void(const std::string& text, bool needsAttention)>;
    void setNoticeSink(NoticeSink sink) { m_notice = std::move(sink); }
    /// The statistics window that the refresh redraws while it is shown.
    void setBusStatisticsWindow(BusStatisticsWindow* window) { m_busStatisticsWindow = window; }
    /// Where the trend window finds the history file when it opens; a path that names no
    /// file: the trend shows live values only.
    void setHistoryFile(std::function<std::string()> path) { m_historyFile = std::move(path); }
    /// Hands every datagram the endpoint receives, or the broker brings from afar, dropped
    /// ones included, to `recording` (which outlives the window), stamped with its arrival
    /// time.
    void recordBus(BusRecording& recording) { m_busRecording = &recording; }
    /// Arrival time of the datagram being handled: the one clock reading it gets, which the
    /// recording stores and the trace shows.
    LocalDateTime arrivalTime() const { return localTimeOf(m_arrivalMicros); }
    /// Stops the endpoint: nothing is delivered from the moment this begins.
    void stopUdpServer();

    /// Handles one datagram of a bus watched from afar, as its bridge captured it (the trace
    /// shows the capture time as arrival time, and a recording keeps it).
    void receiveDatagram(const RawRecord& record);

    void FormCreate();
    void startUdpServer();
    void prepareGrids();
    void UdpServerUDPRead(qvlink::UdpServer& sender, std::span<const std::uint8_t> data,
                          const UdpBinding& binding);
    void TimerSyncTimer();
    void updateInfoGrid();
    void updateDevicesGrid();
    void updateTsGrid();
    void updateTiGrid();
    /// Takes the endpoint's own counts into the statistics and redraws their window.
    void updateBusStatistics();
    void reportLateDevices(std::int64_t nowMs);
    void GridDevicesClickCell(int row, int col);
    void GridTsClickCell(int row, int col);
    void GridTiClickCell(int row, int col);
    void OutsideClick();
    void BOpenTraceClick();
    void BSetDeviceIpAddrClick();
    void BSendReprogClick();
    static void GridCanEditCell(int row, int col, bool& canEdit);
    /// Opens the trend of this point alone ("Тренд") or adds it to the open one ("Добавить
    /// на график"); rows outside the points are ignored.
    void openTrend(PointKind kind, int row);
    void addToTrend(PointKind kind, int row);
    /// The open trend window, or null.
    TrendWindow* trendWindow() const { return m_trendWindow.get(); }
    /// Context menus of a device row and of a TS or TI row, acting on what the row held when
    /// the menu opened; null where the row holds nothing.
    std::unique_ptr<QMenu> deviceMenu(int row);
    std::unique_ptr<QMenu> pointMenu(GridView& grid, int row);

    bool isReplay() const { return !m_settings.replayOf.empty(); }
    /// The replay's side of the window: the reception pipeline and the refresh as live,
    /// what was seen before a seek back kept out of the history and the event log.
    void restart() override;
    void receive(std::span<const std::uint8_t> kept, std::size_t length,
                 const std::string& senderIp, bool revisiting) override;
    void secondElapsed(bool revisiting, bool shown) override;

    const DeviceRegistry& registry() const { return m_registry; }
    const TeleparamTables& tables() const { return m_tables; }
    const BusStatistics& statistics() const { return m_statistics; }
    SelectionKind selectionKind() const { return m_selectionKind; }

    QGroupBox* PanelInfo;
    QGroupBox* PanelTi;
    QGroupBox* PanelTs;
    QGroupBox* PanelDevices;
    GridView* GridDevices;
    GridView* GridTs;
    GridView* GridTi;
    QWidget* PanelButtonsGlobal;
    QPushButton* BOpenTrace;
    QWidget* PanelButtonsSpecific;
    QPushButton* BSendReprog;
    QPushButton* BSetDeviceIpAddr;
    GridView* GridInfo;
    QTimer* TimerSync;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void arrangeTabOrder();
    void connectHandlers();
    void selectRow(SelectionKind kind, int row);
    void createShortcuts();
    /// Stamps a datagram the endpoint received with its arrival time and records it.
    void noteArrival(const qvlink::UdpServer::Arrival& arrival);
    /// Hands the datagram that arrived at m_arrivalMicros to the recording, if there is one.
    void recordArrival(const DatagramEndpoints& endpoints, std::span<const std::uint8_t> kept,
                       std::size_t length);
    /// The point row the shortcuts act on: the current row of the focused TS or TI grid.
    bool focusedPointRow(PointKind& kind, int& row) const;
    /// Runs a handler; an exception is shown in the error box and goes no further.
    void guarded(const std::function<void()>& handler);
    /// The outcome of the firmware-update post, shown as the post itself would have shown it.
    void firmwarePostDone(const std::string& macAddr, std::exception_ptr failure);
    /// While a command is under way its buttons are off and the mouse shows it is busy.
    void setCommandsBusy(bool busy);
    /// Replaying: the caption names the capture and the device commands are off.
    void showReplayMode();
    /// "Статистика шины" at the end of a row menu, when there is a statistics window.
    void addBusStatisticsEntry(QMenu& menu);
    /// Where the outcome of a command goes: the event log, which shows itself.
    void reportCommandOutcome(const std::string& text);
    /// Watching a bus far away through a broker rather than the bus itself.
    bool watchesRemotely() const { return !m_settings.remoteSource.empty(); }
    /// On the bus itself: neither replaying nor watching through a broker (otherwise the bus
    /// port stays closed and the device commands, which need the bus, are off).
    bool onTheBus() const { return !isReplay() && !watchesRemotely(); }

    MonitorSettings m_settings;
    FormatSettings m_format;
    Dialogs m_dialogs;
    EpochClock m_epoch;
    DeviceRegistry m_registry;
    TeleparamTables m_tables;
    ElapsedClock m_elapsed;
    BusStatistics m_statistics;
    BusReception m_reception;
    CommandWatch m_commandWatch;
    CommandFramer m_framer;
    std::unique_ptr<DetailsPanel> m_details;
    TFTrace* m_trace = nullptr;
    BusStatisticsWindow* m_busStatisticsWindow = nullptr;
    NoticeSink m_notice;
    std::function<std::string()> m_historyFile;
    std::unique_ptr<TrendWindow> m_trendWindow;
    BusRecording* m_busRecording = nullptr;
    std::int64_t m_arrivalMicros = 0;
    SelectionKind m_selectionKind = SelectionKind::None;
    int m_selectionRow = 0;
    /// A replay passing again over what it showed before a seek back.
    bool m_revisiting = false;
    QtDispatcher m_dispatcher;

public:
    // Declared last: destroyed first, so the endpoint has stopped before anything its
    // deliveries use goes away.
    qvlink::UdpServer UdpServer;
    qvlink::HttpClient HttpClient;

private:
    // After the client and the dispatcher: its thread ends before either goes.
    BackgroundPost m_firmwarePost{HttpClient, m_dispatcher};
};

}  // namespace qvlink
