#include "trend/trend_window.h"

#include <qcustomplot.h>

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <limits>
#include <stdexcept>

#include "trend/quality_band.h"
#include "trend/trend_csv.h"

namespace qvlink {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kMinute = 60 * kMicrosPerSecond;
constexpr int kRefreshPeriodMs = 1000;
/// While following, the store is read again this often (the band and what the live part
/// no longer keeps).
constexpr int kReloadEveryTicks = 10;
/// A zoom or pan is read from the store once the mouse has rested this long.
constexpr int kReloadDelayMs = 150;
constexpr int kBandHeight = 18;  ///< pixels per series in the quality band

struct RangePreset {
    const char* text;
    std::int64_t widthUs;
};
constexpr RangePreset kPresets[] = {{"1 мин", kMinute},
                                    {"10 мин", 10 * kMinute},
                                    {"1 ч", 60 * kMinute},
                                    {"24 ч", 24 * 60 * kMinute},
                                    {"7 сут", 7 * 24 * 60 * kMinute}};

const QColor kSeriesColors[] = {QColor(0, 90, 200),   QColor(200, 40, 40), QColor(20, 140, 60),
                                QColor(150, 60, 170), QColor(220, 130, 0), QColor(0, 150, 160)};
const QColor kSilenceColor(240, 170, 60);
const QColor kRestartColor(210, 0, 0);
const QColor kMissedColor(120, 60, 200);
const QColor kMonitorOffColor(150, 150, 150);

double plotSeconds(std::int64_t timeUs) {
    return static_cast<double>(timeUs) / kMicrosPerSecond;
}

std::int64_t microsOf(double seconds) {
    return static_cast<std::int64_t>(seconds * kMicrosPerSecond);
}

QSharedPointer<QCPAxisTickerDateTime> localTimeTicker() {
    QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
    ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss\ndd.MM.yyyy"));
    ticker->setDateTimeSpec(Qt::LocalTime);
    return ticker;
}

QSharedPointer<QCPAxisTickerText> stateTicker(bool doublePoint) {
    QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
    for (int level = 0; level <= (doublePoint ? 3 : 1); ++level) {
        ticker->addTick(level, QString::fromStdString(tsLevelText(level, doublePoint)));
    }
    return ticker;
}

}  // namespace

TrendWindow::TrendWindow(std::string historyPath, EpochClock clock, FormatSettings format,
                         Dialogs dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_clock(std::move(clock)),
      m_format(std::move(format)),
      m_dialogs(std::move(dialogs)),
      m_pngDialog{QStringLiteral("trend.png"), QStringLiteral("png"),
                  QStringLiteral("Рисунок PNG (*.png)"), QStringLiteral("*.png")},
      m_csvDialog{QStringLiteral("trend.csv"), QStringLiteral("csv"),
                  QStringLiteral("Таблица CSV (*.csv)"), QStringLiteral("*.csv")} {
    setWindowTitle(QStringLiteral("Тренд"));
    resize(900, 560);
    createControls();
    m_loader = std::make_unique<TrendLoader>(std::move(historyPath), [this](TrendResult result) {
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)] { applyLoad(result); }, Qt::QueuedConnection);
    });
    setShownSpan({m_clock() - m_widthUs, m_clock()});
    m_refresh->start();
}

TrendWindow::~TrendWindow() {
    m_loader.reset();
}

void TrendWindow::createControls() {
    auto* buttons = new QHBoxLayout;
    addButton(*buttons, QStringLiteral("Сейчас"), [this] { followNow(); });
    for (const RangePreset& preset : kPresets) {
        const std::int64_t width = preset.widthUs;
        addButton(*buttons, QString::fromUtf8(preset.text), [this, width] { showLast(width); });
    }
    buttons->addStretch();
    addButton(*buttons, QStringLiteral("PNG…"), [this] { BSavePngClick(); });
    addButton(*buttons, QStringLiteral("CSV…"), [this] { BSaveCsvClick(); });

    m_plot = new QCustomPlot(this);
    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    QCPAxisRect* main = m_plot->axisRect();
    main->setRangeDrag(Qt::Horizontal);
    main->setRangeZoom(Qt::Horizontal);
    main->axis(QCPAxis::atBottom)->setTicker(localTimeTicker());
    main->axis(QCPAxis::atLeft)->setVisible(false);
    m_plot->legend->setVisible(true);

    m_bandRect = new QCPAxisRect(m_plot);
    m_plot->plotLayout()->addElement(1, 0, m_bandRect);
    m_bandRect->setRangeDrag(Qt::Horizontal);
    m_bandRect->setRangeZoom(Qt::Horizontal);
    m_bandRect->axis(QCPAxis::atBottom)->setTicker(localTimeTicker());
    m_bandRect->axis(QCPAxis::atBottom)->setTickLabels(false);
    m_bandRect->axis(QCPAxis::atLeft)->setTickLabels(false);
    m_bandRect->axis(QCPAxis::atLeft)->setTicks(false);
    auto* margins = new QCPMarginGroup(m_plot);
    main->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    m_bandRect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);

    QCPAxis* time = main->axis(QCPAxis::atBottom);
    connect(time, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& range) {
                m_bandRect->axis(QCPAxis::atBottom)->setRange(range);
                if (!m_settingRange) {
                    userMovedRange();
                }
            });
    connect(m_bandRect->axis(QCPAxis::atBottom), qOverload<const QCPRange&>(&QCPAxis::rangeChanged),
            time, qOverload<const QCPRange&>(&QCPAxis::setRange));
    connect(m_plot, &QCustomPlot::mouseMove, this, [this](QMouseEvent* event) {
        const double seconds = m_plot->xAxis->pixelToCoord(event->position().x());
        m_readout->setText(readoutText(microsOf(seconds)));
    });

    m_readout = new QLabel(this);
    m_readout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_plot, 1);
    layout->addWidget(m_readout);

    m_refresh = new QTimer(this);
    m_refresh->setInterval(kRefreshPeriodMs);
    connect(m_refresh, &QTimer::timeout, this, [this] { tick(); });
    m_reloadDelay = new QTimer(this);
    m_reloadDelay->setSingleShot(true);
    m_reloadDelay->setInterval(kReloadDelayMs);
    connect(m_reloadDelay, &QTimer::timeout, this, [this] { requestLoad(); });
}

void TrendWindow::addButton(QHBoxLayout& row, const QString& text,
                            const std::function<void()>& handler) {
    auto* button = new QPushButton(text, this);
    row.addWidget(button);
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QPushButton::clicked, this, [this, handler] { guarded(handler); });
}

void TrendWindow::guarded(const std::function<void()>& handler) {
    runHandler(this, handler, m_dialogs.error);
}

QCPGraph* TrendWindow::addGraph(const TrendSeries& series) {
    QCPAxisRect* main = m_plot->axisRect();
    QCPAxis* valueAxis =
        m_graphs.empty() ? main->axis(QCPAxis::atLeft) : main->addAxis(QCPAxis::atLeft);
    const QColor color = kSeriesColors[m_graphs.size() % std::size(kSeriesColors)];
    valueAxis->setVisible(true);
    valueAxis->setBasePen(QPen(color));
    valueAxis->setTickLabelColor(color);
    valueAxis->setLabel(QString::fromStdString(series.label()));
    valueAxis->setLabelColor(color);
    QCPGraph* graph = m_plot->addGraph(main->axis(QCPAxis::atBottom), valueAxis);
    graph->setName(QString::fromStdString(series.label()));
    graph->setPen(QPen(color));  // thin: wider pens are stroked as polygons, far slower
    graph->setAdaptiveSampling(true);
    if (series.point().kind == PointKind::Ts) {
        graph->setLineStyle(QCPGraph::lsStepLeft);
    }
    return graph;
}

void TrendWindow::addPoint(PointId point) {
    for (const auto& one : m_series) {
        if (one->point() == point) {
            return;
        }
    }
    m_series.push_back(std::make_unique<TrendSeries>(point, m_clock()));
    m_graphs.push_back(addGraph(*m_series.back()));
    requestLoad();
}

void TrendWindow::liveTs(const TTs& item) {
    for (const auto& one : m_series) {
        if (one->point() == PointId{PointKind::Ts, item.number}) {
            one->addLive(m_clock(), item.flags, item.macAddr);
        }
    }
}

void TrendWindow::liveTi(const TTi& item) {
    for (const auto& one : m_series) {
        if (one->point() == PointId{PointKind::Ti, item.number}) {
            one->addLive(m_clock(), item.value, item.macAddr);
        }
    }
}

TimeSpan TrendWindow::shownSpan() const {
    const QCPRange range = m_plot->xAxis->range();
    return {microsOf(range.lower), microsOf(range.upper)};
}

void TrendWindow::setShownSpan(TimeSpan span) {
    m_settingRange = true;
    m_plot->xAxis->setRange(plotSeconds(span.fromUs), plotSeconds(span.toUs));
    m_settingRange = false;
}

void TrendWindow::followNow() {
    showLast(m_widthUs);
}

void TrendWindow::showLast(std::int64_t widthUs) {
    m_widthUs = widthUs;
    m_following = true;
    const std::int64_t now = m_clock();
    setShownSpan({now - m_widthUs, now});
    requestLoad();
    redraw();
}

void TrendWindow::showSpan(TimeSpan span) {
    m_following = false;
    setShownSpan(span);
    requestLoad();
    redraw();
}

void TrendWindow::stopFollowing() {
    m_following = false;
}

void TrendWindow::userMovedRange() {
    stopFollowing();
    m_reloadDelay->start();
}

void TrendWindow::requestLoad() {
    TrendRequest request;
    request.generation = ++m_requestedGeneration;
    request.span = shownSpan();
    request.buckets = kBuckets;
    for (const auto& one : m_series) {
        request.points.push_back(one->point());
        request.knownMacs.push_back(one->lastMac());
    }
    m_ticksSinceLoad = 0;
    m_loader->request(std::move(request));
}

void TrendWindow::applyLoad(const TrendResult& result) {
    for (std::size_t i = 0; i < result.points.size() && i < m_series.size(); ++i) {
        m_series[i]->setHistory(result.points[i]);
    }
    m_band = result;
    m_appliedGeneration = result.generation;
    redraw();
    emit historyApplied();
}

void TrendWindow::tick() {
    const std::int64_t now = m_clock();
    for (const auto& one : m_series) {
        one->trimLive(now);
    }
    if (m_following) {
        setShownSpan({now - m_widthUs, now});
        if (++m_ticksSinceLoad >= kReloadEveryTicks) {
            requestLoad();
        }
    }
    redraw();
}

void TrendWindow::redraw() {
    const TimeSpan shown = shownSpan();
    const std::vector<TimeSpan> monitorOff = monitorOffSpans(m_band.recordings, m_band.span);
    for (std::size_t i = 0; i < m_series.size(); ++i) {
        const TrendSeries& series = *m_series[i];
        QVector<double> keys;
        QVector<double> values;
        auto off = monitorOff.begin();
        for (const TrendSample& sample : series.samples()) {
            // No line across a span the monitor did not run: it knows nothing of it.
            for (; off != monitorOff.end() && off->fromUs < sample.timeUs; ++off) {
                if (!keys.isEmpty()) {
                    keys.push_back(plotSeconds(off->fromUs));
                    values.push_back(std::numeric_limits<double>::quiet_NaN());
                }
            }
            keys.push_back(plotSeconds(sample.timeUs));
            values.push_back(sample.value);
        }
        QCPGraph* graph = m_graphs[i];
        graph->setData(keys, values, true);
        if (series.point().kind == PointKind::Ts) {
            graph->valueAxis()->setTicker(stateTicker(series.doublePoint()));
            graph->valueAxis()->setRange(-0.5, series.doublePoint() ? 3.5 : 1.5);
        } else {
            bool found = false;
            const QCPRange range = graph->getValueRange(
                found, QCP::sdBoth, QCPRange(plotSeconds(shown.fromUs), plotSeconds(shown.toUs)));
            if (found) {
                const double pad = std::max(range.size() * 0.05, 0.5);
                graph->valueAxis()->setRange(range.lower - pad, range.upper + pad);
            }
        }
    }
    drawBand();
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void TrendWindow::clearBand() {
    for (QCPAbstractItem* item : m_bandItems) {
        m_plot->removeItem(item);
    }
    m_bandItems.clear();
}

void TrendWindow::bandRect(TimeSpan span, double bottom, double top, const QColor& color) {
    auto* rect = new QCPItemRect(m_plot);
    rect->setClipAxisRect(m_bandRect);
    for (QCPItemPosition* corner : {rect->topLeft, rect->bottomRight}) {
        corner->setAxes(m_bandRect->axis(QCPAxis::atBottom), m_bandRect->axis(QCPAxis::atLeft));
    }
    rect->topLeft->setCoords(plotSeconds(span.fromUs), top);
    rect->bottomRight->setCoords(plotSeconds(span.toUs), bottom);
    rect->setPen(Qt::NoPen);
    rect->setBrush(color);
    m_bandItems.push_back(rect);
}

void TrendWindow::bandLine(std::int64_t timeUs, double bottom, double top, const QColor& color) {
    auto* line = new QCPItemLine(m_plot);
    line->setClipAxisRect(m_bandRect);
    for (QCPItemPosition* end : {line->start, line->end}) {
        end->setAxes(m_bandRect->axis(QCPAxis::atBottom), m_bandRect->axis(QCPAxis::atLeft));
    }
    line->start->setCoords(plotSeconds(timeUs), bottom);
    line->end->setCoords(plotSeconds(timeUs), top);
    line->setPen(QPen(color, 2));
    m_bandItems.push_back(line);
}

void TrendWindow::drawBand() {
    clearBand();
    const double rows = std::max<double>(static_cast<double>(m_series.size()), 1.0);
    m_bandRect->setMinimumSize(0, static_cast<int>(rows) * kBandHeight + 8);
    m_bandRect->setMaximumSize(QWIDGETSIZE_MAX, static_cast<int>(rows) * kBandHeight + 8);
    m_bandRect->axis(QCPAxis::atLeft)->setRange(0, rows);
    const TimeSpan span = m_band.span;
    for (const TimeSpan& off : monitorOffSpans(m_band.recordings, span)) {
        bandRect(off, 0, rows, kMonitorOffColor);
    }
    for (std::size_t i = 0; i < m_band.macs.size() && i < m_series.size(); ++i) {
        const double top = rows - static_cast<double>(i);
        const double bottom = top - 1.0;
        const DeviceHealth health = deviceHealth(m_band.events, m_band.macs[i], span);
        for (const TimeSpan& silence : health.silences) {
            bandRect(silence, bottom + 0.15, top - 0.15, kSilenceColor);
        }
        for (const BandMark& restart : health.restarts) {
            bandLine(restart.timeUs, bottom, top, kRestartColor);
        }
        for (const BandMark& miss : health.misses) {
            bandLine(miss.timeUs, bottom + 0.3, top - 0.3, kMissedColor);
        }
    }
}

QString TrendWindow::readoutText(std::int64_t timeUs) const {
    QString text = QString::fromStdString(isoLocalTime(timeUs)).replace('T', ' ');
    for (const auto& one : m_series) {
        double value = 0.0;
        text += QStringLiteral("   ") + QString::fromStdString(one->label()) + QStringLiteral(": ");
        text += one->valueAt(timeUs, value)
                    ? QString::fromStdString(one->valueText(value, m_format))
                    : QStringLiteral("—");
    }
    return text;
}

void TrendWindow::BSavePngClick() {
    const std::optional<QString> path = m_dialogs.saveFileName(this, m_pngDialog);
    if (!path) {
        return;
    }
    m_pngDialog.fileName = *path;
    if (!m_plot->savePng(*path)) {
        throw std::runtime_error("Не удалось записать файл " + path->toStdString());
    }
}

void TrendWindow::BSaveCsvClick() {
    const std::optional<QString> path = m_dialogs.saveFileName(this, m_csvDialog);
    if (!path) {
        return;
    }
    m_csvDialog.fileName = *path;
    std::vector<const TrendSeries*> shown;
    for (const auto& one : m_series) {
        shown.push_back(one.get());
    }
    const std::string csv = trendCsv(shown, shownSpan(), m_format);
    QFile file(*path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(csv.data(), static_cast<qint64>(csv.size())) !=
            static_cast<qint64>(csv.size())) {
        throw std::runtime_error("Не удалось записать файл " + path->toStdString());
    }
}

}  // namespace qvlink
