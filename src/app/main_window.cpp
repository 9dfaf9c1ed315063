#include "app/main_window.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "app/shortcuts.h"
#include "app/table_refresh.h"
#include "busstats/statistics_table.h"
#include "busstats_window/bus_statistics_window.h"
#include "common/dotted_quad.h"
#include "recording/bus_recording.h"
#include "trace/trace_window.h"
#include "trend/trend_window.h"
#include "ui/caption_group_box.h"
#include "ui/grid_setup.h"
#include "ui/grid_view.h"
#include "ui/pixel_font.h"

namespace qvlink {
namespace {

constexpr int kClientWidth = 772;
constexpr int kClientHeight = 516;
constexpr QPoint kScreenPosition{293, 128};
constexpr int kRefreshPeriodMs = 1000;
/// Size of the receive buffer: the longest datagram the bus carries.
constexpr int kBusBufferSize = static_cast<int>(kMaxDatagramSize);
/// The input box takes at most this many characters.
constexpr int kIpInputMaxLength = 255;

const QString kIpPrompt = QStringLiteral("Введите устанавливаемый IP-адрес устройства");
const QString kReprogConfirmation =
    QStringLiteral("Команда входа в режим обновления программы выдана");
const QString kReplayCaption = QStringLiteral("%1 — воспроизведение: %2");
const QString kCommandsOffInReplay =
    QStringLiteral("Недоступно при воспроизведении записи: монитор не подключён к шине");
const QString kRemoteCommandsOff = QStringLiteral(
    "Шина наблюдается удалённо через брокер MQTT: команды устройствам отсюда не отправляются");
const char* const kIpTooLong =
    "IP-адрес слишком длинный: команда смены адреса не помещается в пакет.";

/// A menu action that puts `text` on the clipboard.
std::function<void()> copyToClipboard(const std::string& text) {
    return [text = QString::fromStdString(text)] { QGuiApplication::clipboard()->setText(text); };
}

/// Runs a context menu at `globalPos`, if there is one.
void execMenu(const std::unique_ptr<QMenu>& menu, const QPoint& globalPos) {
    if (menu) {
        menu->exec(globalPos);
    }
}

QFont arial(int pixels) {
    return pixelFont(QStringLiteral("Arial"), pixels);
}

QPalette withTextColor(QPalette palette, const QColor& color) {
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    return palette;
}

QGroupBox* groupBox(QWidget* parent, const QRect& geometry, const QString& title) {
    auto* box = new CaptionGroupBox(title, Qt::blue, parent);
    box->setGeometry(geometry);
    box->setFont(arial(13));
    return box;
}

QPushButton* blueButton(QWidget* parent, const QRect& geometry, const QString& text) {
    auto* button = new QPushButton(text, parent);
    button->setGeometry(geometry);
    button->setFont(arial(13));
    button->setPalette(withTextColor(button->palette(), Qt::blue));
    return button;
}

/// A panel without bevel or caption.
QWidget* plainPanel(QWidget* parent, const QRect& geometry) {
    auto* panel = new QWidget(parent);
    panel->setGeometry(geometry);
    return panel;
}

GridView* grid(QWidget* parent, const QRect& geometry, const GridSetup& setup) {
    auto* view = new GridView(parent);
    view->setGeometry(geometry);
    applyGridSetup(*view, setup);
    return view;
}

GridSetup devicesGridSetup() {
    GridSetup setup;
    setup.colCount = kDevicesGridColumns;
    setup.rowCount = 30;
    setup.fixedRows = 1;
    setup.fixedCols = 1;
    setup.colWidths = {30, 85, 110, 95, 60};
    setup.headerRowHeight = 18;
    setup.rowHeight = 21;
    setup.headers = {"№", "Устр-во", "MAC-адрес", "IP-адрес", "Таймаут"};
    setup.cellFontPixels = 11;
    return setup;
}

GridSetup pointGridSetup(const QString& valueHeader) {
    GridSetup setup;
    setup.colCount = kPointGridColumns;
    setup.rowCount = kPointCount + 2;
    setup.fixedRows = 1;
    setup.fixedCols = 1;
    setup.colWidths = {35, 60, 55};
    setup.headerRowHeight = 17;
    setup.rowHeight = 17;
    setup.headers = {"№", valueHeader, "Таймаут"};
    setup.fixedColumn = {"1", "2", "3"};
    setup.cellFontPixels = 9;
    setup.rangeSelect = true;
    setup.selectionVisible = true;
    return setup;
}

GridSetup infoGridSetup() {
    GridSetup setup;
    setup.colCount = 6;
    setup.rowCount = 4;
    setup.colWidths = {60, 115, 65, 55, 80, 85};
    setup.rowHeight = 20;
    setup.cellFontPixels = 9;
    setup.lines = GridLines::None;
    setup.rangeSelect = true;
    setup.selectionVisible = true;
    setup.scrollBars = false;
    return setup;
}

}  // namespace

TFMain::TFMain(MonitorSettings settings, Clock clock, FormatSettings format, Dialogs dialogs,
               ElapsedClock elapsed, EpochClock epoch, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_settings(std::move(settings)),
      m_format(std::move(format)),
      m_dialogs(std::move(dialogs)),
      m_epoch(std::move(epoch)),
      m_registry(clock, m_epoch),
      m_tables(clock),
      m_elapsed(std::move(elapsed)),
      m_statistics(m_registry),
      m_reception(m_registry, m_tables, m_statistics, m_elapsed),
      m_commandWatch(m_registry, m_elapsed, m_format,
                     [this](const std::string& text) { reportCommandOutcome(text); }),
      UdpServer(m_dispatcher) {
    setWindowTitle(QStringLiteral("Келта 2 QV-LINK"));
    if (watchesRemotely()) {
        setWindowTitle(windowTitle() + QStringLiteral(" — ") +
                       QString::fromStdString(m_settings.remoteSource));
    }
    setFixedSize(kClientWidth, kClientHeight);
    move(kScreenPosition);
    setFont(arial(11));
    createControls();
    arrangeTabOrder();
    m_details = std::make_unique<DetailsPanel>(m_registry, m_tables, m_format, *GridInfo);
    UdpServer.setBroadcastEnabled(true);
    UdpServer.setOnUDPRead(
        [this](qvlink::UdpServer& sender, std::span<const std::uint8_t> data,
               const UdpBinding& binding) { UdpServerUDPRead(sender, data, binding); });
    UdpServer.setArrivalTap(
        [this](const qvlink::UdpServer::Arrival& arrival) { noteArrival(arrival); });
    m_reception.setTraceHook([this](const std::string& ipAddr, const TPacket& packet) {
        if (m_trace != nullptr) {
            m_trace->addTraceRecord(ipAddr, packet);
        }
    });
    // What a replay passes again after a seek back is in the trend already.
    m_tables.addTsListener([this](const TTs& item) {
        if (m_trendWindow && !m_revisiting) {
            m_trendWindow->liveTs(item);
        }
    });
    m_tables.addTiListener([this](const TTi& item) {
        if (m_trendWindow && !m_revisiting) {
            m_trendWindow->liveTi(item);
        }
    });
    connectHandlers();
    createShortcuts();
    if (isReplay()) {
        showReplayMode();
    } else {
        if (watchesRemotely()) {
            for (QPushButton* button : {BSendReprog, BSetDeviceIpAddr}) {
                button->setEnabled(false);
                button->setToolTip(kRemoteCommandsOff);
            }
        }
        TimerSync->start();
    }
    FormCreate();
}

void TFMain::showReplayMode() {
    setWindowTitle(kReplayCaption.arg(windowTitle(), QString::fromStdString(m_settings.replayOf)));
    for (QPushButton* command : {BSendReprog, BSetDeviceIpAddr}) {
        command->setEnabled(false);
        command->setToolTip(kCommandsOffInReplay);
    }
}

TFMain::~TFMain() {
    stopUdpServer();
}

void TFMain::createControls() {
    PanelInfo = groupBox(this, {0, 431, 772, 85}, "Подробные сведения");
    PanelTi = groupBox(this, {592, 0, 180, 431}, "Таблица ТИ");
    PanelTs = groupBox(this, {412, 0, 180, 431}, "Таблица ТС");
    PanelDevices = groupBox(this, {0, 0, 412, 431}, "Устройства на шине QV-LINK");
    GridDevices = grid(PanelDevices, {2, 18, 408, 411}, devicesGridSetup());
    GridTs = grid(PanelTs, {2, 18, 176, 411}, pointGridSetup("Сост."));
    GridTi = grid(PanelTi, {2, 18, 176, 411}, pointGridSetup("Знач."));

    PanelButtonsGlobal = plainPanel(PanelInfo, {620, 18, 150, 65});
    BOpenTrace = blueButton(PanelButtonsGlobal, {5, 32, 140, 25}, "Трассировка шины");
    PanelButtonsSpecific = plainPanel(PanelInfo, {470, 18, 150, 65});
    BSendReprog = blueButton(PanelButtonsSpecific, {5, 0, 140, 25}, "Режим обновления ПО");
    BSetDeviceIpAddr = blueButton(PanelButtonsSpecific, {5, 32, 140, 25}, "Сменить IP-адрес");
    PanelButtonsSpecific->hide();
    GridInfo = grid(PanelInfo, {2, 18, 468, 65}, infoGridSetup());
    GridInfo->hide();

    TimerSync = new QTimer(this);
    TimerSync->setInterval(kRefreshPeriodMs);
}

void TFMain::arrangeTabOrder() {
    QWidget* const order[] = {GridDevices, GridTi,           GridTs,     BOpenTrace,
                              GridInfo,    BSetDeviceIpAddr, BSendReprog};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget::setTabOrder(order[i], order[i + 1]);
    }
}

void TFMain::connectHandlers() {
    connect(TimerSync, &QTimer::timeout, this, [this] { TimerSyncTimer(); });
    connect(BOpenTrace, &QPushButton::clicked, this, [this] { BOpenTraceClick(); });
    connect(BSetDeviceIpAddr, &QPushButton::clicked, this, [this] { BSetDeviceIpAddrClick(); });
    connect(BSendReprog, &QPushButton::clicked, this, [this] { BSendReprogClick(); });
    GridDevices->setOnClickCell([this](int row, int col) { GridDevicesClickCell(row, col); });
    GridTs->setOnClickCell([this](int row, int col) { GridTsClickCell(row, col); });
    GridTi->setOnClickCell([this](int row, int col) { GridTiClickCell(row, col); });
    GridTs->setOnDblClickCell([this](int row, int) { openTrend(PointKind::Ts, row); });
    GridTi->setOnDblClickCell([this](int row, int) { openTrend(PointKind::Ti, row); });
    GridDevices->setOnContextMenu(
        [this](int row, int, const QPoint& at) { execMenu(deviceMenu(row), at); });
    for (GridView* points : {GridTs, GridTi}) {
        points->setOnContextMenu([this, points](int row, int, const QPoint& at) {
            execMenu(pointMenu(*points, row), at);
        });
    }
    for (GridView* view : {GridDevices, GridTs, GridTi, GridInfo}) {
        view->setOnCanEditCell(&TFMain::GridCanEditCell);
    }
    for (QWidget* panel : {static_cast<QWidget*>(PanelDevices), static_cast<QWidget*>(PanelTs),
                           static_cast<QWidget*>(PanelTi), static_cast<QWidget*>(PanelInfo),
                           PanelButtonsGlobal, PanelButtonsSpecific}) {
        panel->installEventFilter(this);
    }
}

void TFMain::guarded(const std::function<void()>& handler) {
    runHandler(this, handler, m_dialogs.error);
}

void TFMain::FormCreate() {
    guarded([this] {
        if (onTheBus()) {
            startUdpServer();
        }
        prepareGrids();
    });
}

void TFMain::startUdpServer() {
    UdpServer.setDefaultPort(m_settings.busPort);
    UdpServer.setBufferSize(kBusBufferSize);
    UdpServer.addBinding().IP = "0.0.0.0";
    UdpServer.setActive(true);
}

void TFMain::prepareGrids() {
    numberPointRows(*GridTs);
    numberPointRows(*GridTi);
}

void TFMain::stopUdpServer() {
    UdpServer.setActive(false);
}

void TFMain::UdpServerUDPRead(qvlink::UdpServer&, std::span<const std::uint8_t> data,
                              const UdpBinding& binding) {
    m_reception.receive(data.data(), data.size(), binding.SenderIP);
}

void TFMain::receiveDatagram(const RawRecord& record) {
    m_arrivalMicros = static_cast<std::int64_t>(record.captureMicros);
    // The bridge does not say where it captured; the bus port stands for the destination.
    recordArrival({record.senderIp, record.senderPort, 0, kBusPort}, record.datagram,
                  record.datagram.size());
    m_reception.receiveCaptured(record.datagram, record.datagram.size(),
                                dottedQuadText(record.senderIp));
}

void TFMain::noteArrival(const qvlink::UdpServer::Arrival& arrival) {
    m_arrivalMicros = systemEpochMicros();
    recordArrival({arrival.senderIp, arrival.senderPort, arrival.localIp, arrival.localPort},
                  arrival.kept, arrival.length);
}

void TFMain::recordArrival(const DatagramEndpoints& endpoints, std::span<const std::uint8_t> kept,
                           std::size_t length) {
    if (m_busRecording != nullptr) {
        m_busRecording->record(m_arrivalMicros, endpoints, kept, length);
    }
}

void TFMain::restart() {
    clearDevicesGrid(*GridDevices, std::max(m_registry.deviceCount(), GridDevices->RowCount()));
    clearPointGrid(*GridTs);
    clearPointGrid(*GridTi);
    m_statistics.clear();
    m_registry.clear();
    m_tables.clear();
    if (m_trace != nullptr) {
        m_trace->clearTrace();
    }
    OutsideClick();
}

void TFMain::receive(std::span<const std::uint8_t> kept, std::size_t length,
                     const std::string& senderIp, bool revisiting) {
    m_arrivalMicros = m_epoch();
    m_revisiting = revisiting;
    m_reception.setHistoryMuted(revisiting);
    m_reception.receiveCaptured(kept, length, senderIp);
}

void TFMain::secondElapsed(bool revisiting, bool shown) {
    m_revisiting = revisiting;
    m_reception.setHistoryMuted(revisiting);
    if (shown) {
        TimerSyncTimer();
    } else {
        ageTables(m_registry, m_tables);
        reportLateDevices(m_elapsed());
    }
}

void TFMain::TimerSyncTimer() {
    updateInfoGrid();
    updateDevicesGrid();
    m_commandWatch.tick();
    updateTsGrid();
    updateTiGrid();
    updateBusStatistics();
}

void TFMain::updateInfoGrid() {
    const InfoPanelView view = m_details->updateInfoGrid(m_selectionKind, m_selectionRow);
    PanelInfo->setTitle(QString::fromStdString(view.caption));
    GridInfo->setVisible(view.gridVisible);
    PanelButtonsSpecific->setVisible(view.deviceButtonsVisible);
}

void TFMain::updateDevicesGrid() {
    qvlink::updateDevicesGrid(m_registry, *GridDevices);
}

void TFMain::updateTsGrid() {
    qvlink::updateTsGrid(m_tables, *GridTs);
}

void TFMain::updateTiGrid() {
    qvlink::updateTiGrid(m_tables, *GridTi, m_format);
}

// The monitor's buffer is the longest datagram the bus carries: whatever the endpoint finds
// longer than it is a datagram the reception would refuse as too long.
// Watched through a broker, the pipeline counts those drops itself and the closed endpoint has
// none to add.
void TFMain::updateBusStatistics() {
    if (onTheBus()) {
        const qvlink::UdpServer::Discards discards = UdpServer.discardedDatagrams();
        m_statistics.setDropTally(DropReason::Empty,
                                  {discards.empty.count, discards.empty.lastSender});
        m_statistics.setDropTally(DropReason::TooLong,
                                  {discards.oversized.count, discards.oversized.lastSender});
        m_statistics.setKernelDrops(UdpServer.droppedDatagrams());
    }
    const std::int64_t nowMs = m_elapsed();
    reportLateDevices(nowMs);
    if (m_busStatisticsWindow != nullptr && m_busStatisticsWindow->isVisible()) {
        m_busStatisticsWindow->refresh(m_statistics, nowMs);
    }
}

// Each silence of a device beyond its learned rhythm is one entry, reported once.
void TFMain::reportLateDevices(std::int64_t nowMs) {
    for (const int number : m_statistics.takeNewlyLate(nowMs)) {
        qvlink::DeviceStatisticsView view;
        if (m_notice && !m_revisiting && m_statistics.viewDevice(number, nowMs, view)) {
            m_notice(qvlink::lateDeviceText(view, m_format), false);
        }
    }
}

void TFMain::selectRow(SelectionKind kind, int row) {
    m_selectionKind = SelectionKind::None;
    if (row < 1) {
        return;  // a header row: the panel empties at the next tick
    }
    m_selectionKind = kind;
    m_selectionRow = row;
    updateInfoGrid();
}

void TFMain::GridDevicesClickCell(int row, int) {
    selectRow(SelectionKind::Device, row);
}

void TFMain::GridTsClickCell(int row, int) {
    selectRow(SelectionKind::Ts, row);
}

void TFMain::GridTiClickCell(int row, int) {
    selectRow(SelectionKind::Ti, row);
}

void TFMain::OutsideClick() {
    m_selectionKind = SelectionKind::None;
    updateInfoGrid();
}

void TFMain::GridCanEditCell(int, int, bool& canEdit) {
    canEdit = false;
}

void TFMain::BOpenTraceClick() {
    if (m_trace == nullptr) {
        return;
    }
    m_trace->show();
    m_trace->raise();
    m_trace->activateWindow();
}

void TFMain::BSetDeviceIpAddrClick() {
    guarded([this] {
        const std::string macText = GridInfo->getCellText(kInfoValueColumn, kInfoMacRow);
        const QString ipText =
            QString::fromStdString(GridInfo->getCellText(kInfoValueColumn, kInfoIpRow));
        const QString answer = m_dialogs.inputText(this, kIpPrompt, ipText, kIpInputMaxLength);
        if (answer.isEmpty() || answer == ipText) {
            return;
        }
        DatagramArea datagram{};
        std::size_t length = 0;
        if (!m_framer.buildSetIpCommand(macText, answer.toStdString(), datagram, length)) {
            throw std::runtime_error(kIpTooLong);
        }
        UdpServer.SendDatagram(m_settings.commandHost, m_settings.commandPort, datagram.data(),
                               length);
        m_commandWatch.expectAddress(macText, answer.toStdString());
    });
}

void TFMain::BSendReprogClick() {
    guarded([this] {
        // Appended piece by piece: g++ 12 at -O3 takes "text" + std::string for an overlapping
        // copy (a false -Wrestrict, GCC bug 105329).
        std::string url = "http://";
        url += GridInfo->getCellText(kInfoValueColumn, kInfoIpRow);
        if (m_settings.httpPort != 80) {
            url += ':';
            url += std::to_string(m_settings.httpPort);
        }
        const std::string macAddr = GridInfo->getCellText(kInfoValueColumn, kInfoMacRow);
        if (m_firmwarePost.start(url, {"reprog={}"}, [this, macAddr](std::exception_ptr failure) {
                firmwarePostDone(macAddr, failure);
            })) {
            setCommandsBusy(true);
        }
    });
}

void TFMain::firmwarePostDone(const std::string& macAddr, std::exception_ptr failure) {
    setCommandsBusy(false);
    guarded([&] {
        if (failure) {
            std::rethrow_exception(failure);
        }
        m_commandWatch.expectFirmwareRestart(macAddr);
        m_dialogs.info(this, kReprogConfirmation);
    });
}

void TFMain::reportCommandOutcome(const std::string& text) {
    if (m_notice) {
        m_notice(text, true);
    }
}

void TFMain::createShortcuts() {
    addShortcut(*this, kTrendShortcut, [this] {
        PointKind kind{};
        int row = 0;
        if (focusedPointRow(kind, row)) {
            openTrend(kind, row);
        }
    });
    addShortcut(*this, kAddToTrendShortcut, [this] {
        PointKind kind{};
        int row = 0;
        if (focusedPointRow(kind, row)) {
            addToTrend(kind, row);
        }
    });
}

bool TFMain::focusedPointRow(PointKind& kind, int& row) const {
    if (GridTs->hasFocus()) {
        kind = PointKind::Ts;
        row = GridTs->currentRow();
        return true;
    }
    if (GridTi->hasFocus()) {
        kind = PointKind::Ti;
        row = GridTi->currentRow();
        return true;
    }
    return false;
}

void TFMain::openTrend(PointKind kind, int row) {
    if (row < 1 || row > kPointCount) {
        return;
    }
    m_trendWindow.reset();
    addToTrend(kind, row);
}

void TFMain::addToTrend(PointKind kind, int row) {
    if (row < 1 || row > kPointCount) {
        return;
    }
    if (!m_trendWindow) {
        m_trendWindow = std::make_unique<TrendWindow>(
            m_historyFile ? m_historyFile() : std::string(), m_epoch, m_format, m_dialogs);
    }
    m_trendWindow->addPoint({kind, row});
    m_trendWindow->show();
    m_trendWindow->raise();
    m_trendWindow->activateWindow();
}

void TFMain::setCommandsBusy(bool busy) {
    BSendReprog->setEnabled(!busy && onTheBus());
    BSetDeviceIpAddr->setEnabled(!busy && onTheBus());
    if (busy) {
        setCursor(Qt::BusyCursor);
    } else {
        unsetCursor();
    }
}

std::unique_ptr<QMenu> TFMain::deviceMenu(int row) {
    TDevice device;
    if (!m_registry.getDevice(row, device)) {
        return nullptr;
    }
    auto menu = std::make_unique<QMenu>(this);
    menu->addAction(QStringLiteral("Копировать MAC"), copyToClipboard(device.macAddr));
    menu->addAction(QStringLiteral("Копировать IP"), copyToClipboard(device.ipAddr));
    menu->addAction(QStringLiteral("Трассировка устройства"),
                    [this, mac = QString::fromStdString(device.macAddr)] {
                        if (m_trace != nullptr) {
                            m_trace->showDeviceTrace(mac);
                        }
                    });
    addBusStatisticsEntry(*menu);
    return menu;
}

std::unique_ptr<QMenu> TFMain::pointMenu(GridView& grid, int row) {
    if (row < 1 || row > kPointCount) {
        return nullptr;
    }
    auto menu = std::make_unique<QMenu>(this);
    menu->addAction(QStringLiteral("Копировать"), copyToClipboard(cellsAsTabSeparated(
                                                      grid, {0, row, kPointGridColumns - 1, row})));
    const PointKind kind = &grid == GridTs ? PointKind::Ts : PointKind::Ti;
    addMenuEntry(*menu, QStringLiteral("Тренд"), kTrendShortcut,
                 [this, kind, row] { openTrend(kind, row); });
    addMenuEntry(*menu, QStringLiteral("Добавить на график"), kAddToTrendShortcut,
                 [this, kind, row] { addToTrend(kind, row); });
    addBusStatisticsEntry(*menu);
    return menu;
}

void TFMain::addBusStatisticsEntry(QMenu& menu) {
    if (m_busStatisticsWindow != nullptr) {
        menu.addSeparator();
        qvlink::addBusStatisticsEntry(menu, *m_busStatisticsWindow);
    }
}

void TFMain::closeEvent(QCloseEvent* event) {
    stopUdpServer();
    m_firmwarePost.cancel();
    event->accept();
    QCoreApplication::quit();
}

bool TFMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        OutsideClick();
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace qvlink
