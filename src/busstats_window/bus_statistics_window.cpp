#include "busstats_window/bus_statistics_window.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QShortcut>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <vector>

#include "busstats/statistics_table.h"
#include "busstats_window/statistics_model.h"
#include "busstats_window/table_copy.h"

namespace qvlink {
namespace {

constexpr QSize kInitialSize{1260, 720};
/// Room around a line of text in a table row, in pixels.
constexpr int kRowPadding = 6;

StatisticsModel* devicesModel(QObject* parent) {
    QStringList titles;
    std::vector<bool> numeric;
    for (const StatisticsColumn& column : kDeviceColumns) {
        titles << QString::fromUtf8(column.caption);
        numeric.push_back(column.numeric);
    }
    return new StatisticsModel(titles, numeric, parent);
}

StatisticsModel* totalsModel(QObject* parent) {
    return new StatisticsModel({QStringLiteral("Раздел"), QStringLiteral("Показатель"),
                                QStringLiteral("Пакетов"), QStringLiteral("Последний отправитель")},
                               {false, false, true, false}, parent);
}

void appendTotals(const char* section, const std::vector<TotalRow>& rows,
                  std::vector<std::vector<StatisticsCell>>& out) {
    for (const TotalRow& row : rows) {
        out.push_back({{section, 0.0},
                       {row.item, 0.0},
                       {std::to_string(row.count), static_cast<double>(row.count)},
                       {row.lastSender, 0.0}});
    }
}

std::vector<std::vector<StatisticsCell>> totalsRows(const BusStatistics& statistics) {
    std::vector<std::vector<StatisticsCell>> rows;
    appendTotals("Принято", {{"всего", statistics.acceptedCount(), {}}}, rows);
    appendTotals("Принято", mixRows(statistics, StatisticsLanguage::Russian), rows);
    appendTotals("Отброшено", dropRows(statistics, true, StatisticsLanguage::Russian), rows);
    return rows;
}

}  // namespace

BusStatisticsWindow::BusStatisticsWindow(FormatSettings format, QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_format(std::move(format)),
      m_devices(devicesModel(this)),
      m_totals(totalsModel(this)) {
    setWindowTitle(QStringLiteral("Статистика шины"));
    resize(kInitialSize);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    m_devicesView = addTable(m_devices);
    m_totalsView = addTable(m_totals);
    splitter->addWidget(m_devicesView);
    splitter->addWidget(m_totalsView);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(splitter);
}

QTableView* BusStatisticsWindow::addTable(StatisticsModel* model) {
    auto* proxy = new QSortFilterProxyModel(this);
    proxy->setSourceModel(model);
    proxy->setSortRole(StatisticsModel::kSortRole);
    auto* view = new QTableView(this);
    view->setModel(proxy);
    view->setSortingEnabled(true);
    view->sortByColumn(-1, Qt::AscendingOrder);  // registry order until a header is clicked
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->verticalHeader()->setMinimumSectionSize(0);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + kRowPadding);
    view->horizontalHeader()->setStretchLastSection(true);
    auto* copy = new QShortcut(QKeySequence::Copy, view, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copy, &QShortcut::activated, view, [view] {
        QApplication::clipboard()->setText(
            cellsAsTabSeparatedText(view->selectionModel()->selectedIndexes()));
    });
    return view;
}

void BusStatisticsWindow::showInFront() {
    show();
    raise();
    activateWindow();
}

void BusStatisticsWindow::refresh(const BusStatistics& statistics, std::int64_t nowMs) {
    std::vector<std::vector<StatisticsCell>> devices;
    for (StatisticsRow& row :
         deviceRows(statistics, nowMs, m_format, StatisticsLanguage::Russian)) {
        devices.emplace_back(std::make_move_iterator(row.begin()),
                             std::make_move_iterator(row.end()));
    }
    const bool newDevices = devices.size() != static_cast<std::size_t>(m_devices->rowCount());
    m_devices->setRows(std::move(devices));
    m_totals->setRows(totalsRows(statistics));
    if (newDevices) {
        m_devicesView->resizeColumnsToContents();
        m_totalsView->resizeColumnsToContents();
    }
}

}  // namespace qvlink
