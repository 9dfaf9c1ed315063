#include "trace/trace_window.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "trace/trace_text.h"
#include "ui/frame_pacer.h"
#include "ui/grid_setup.h"
#include "ui/grid_view.h"
#include "ui/pixel_font.h"

namespace qvlink {
namespace {

constexpr int kClientWidth = 772;
constexpr int kClientHeight = 516;
constexpr QPoint kScreenPosition{281, 377};
/// A busy bus rolls the log faster than anyone reads it; every frame shapes the texts of the
/// records that came into view, so the log is redrawn at most this often.
constexpr qreal kMaxFramesPerSecond = 25.0;
/// When every record in view is new in every frame (a flood), frames cost the most: they then
/// come less often, so that painting the log takes at most this share of the time.
constexpr double kMaxPaintShare = 0.02;

QFont arial(int pixels) {
    return pixelFont(QStringLiteral("Arial"), pixels);
}

template <typename Control>
Control* place(QWidget* parent, const QRect& geometry, const QString& text = QString(),
               int fontPixels = 0) {
    auto* control = new Control(text, parent);
    control->setGeometry(geometry);
    if (fontPixels > 0) {
        control->setFont(arial(fontPixels));
    }
    return control;
}

GridSetup traceGridSetup() {
    GridSetup setup;
    setup.colCount = 4;
    setup.rowCount = 2;
    setup.fixedRows = 1;
    setup.fixedCols = 0;
    setup.colWidths = {90, 80, 350, 230};
    setup.headerRowHeight = 18;
    setup.rowHeight = 18;
    setup.headers = {"Время приема", "IP-адрес", "Пакет", "Расшифровка"};
    setup.cellFontPixels = 9;
    setup.lines = GridLines::Both;
    setup.rangeSelect = true;
    return setup;
}

}  // namespace

TFTrace::TFTrace(Clock clock, FormatSettings format, Dialogs dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_dialogs(std::move(dialogs)),
      m_format(std::move(format)) {
    createControls();
    m_log = std::make_unique<TraceLog>(*GridTrace, std::move(clock), m_format);
    setWindowTitle(QStringLiteral("Трассировка шины QV-LINK"));
    setFixedSize(kClientWidth, kClientHeight);
    move(kScreenPosition);
    setFont(arial(11));
    setAttribute(Qt::WA_QuitOnClose, false);
    FramePacer::pace(this, kMaxFramesPerSecond)->setMaxPaintShare(kMaxPaintShare);
    SaveTraceDialog = {QStringLiteral("Kelta2BusTrace.htm"), QStringLiteral("html"),
                       QStringLiteral("Веб-страница (*.htm; *.html)"), QStringLiteral("*.htm")};
    SaveCsvDialog = {QStringLiteral("Kelta2BusTrace.csv"), QStringLiteral("csv"),
                     QStringLiteral("Текст CSV (*.csv)"), QStringLiteral("*.csv")};
    arrangeTabOrder();
    connectHandlers();
    m_filter = currentFilter();
}

TFTrace::~TFTrace() = default;

void TFTrace::createControls() {
    PanelOptions = new QFrame(this);
    PanelOptions->setGeometry(0, 0, kClientWidth, 73);
    PanelOptions->setFrameStyle(QFrame::Panel | QFrame::Raised);
    ChActive = place<QCheckBox>(PanelOptions, {8, 8, 121, 25}, "Трассировать", 13);
    ChActive->setChecked(true);
    BClearTrace = place<QPushButton>(PanelOptions, {136, 8, 129, 25}, "Очистить поле", 13);
    BSaveTrace = place<QPushButton>(PanelOptions, {288, 8, 137, 25}, "Сохранить в файл", 13);
    LFilterIpAddr = place<QLabel>(PanelOptions, {8, 40, 145, 25}, "Фильтр по IP-адресу:", 13);
    EFilterIpAddr = place<QLineEdit>(PanelOptions, {152, 40, 105, 22});
    BRemoveIpAddrFilter = place<QPushButton>(PanelOptions, {264, 40, 25, 25}, "X");
    LFilterMacAddr = place<QLabel>(PanelOptions, {312, 40, 145, 25}, "Фильтр по MAC-адресу:", 13);
    EFilterMacAddr = place<QLineEdit>(PanelOptions, {464, 40, 105, 22});
    BRemoveMacAddrFilter = place<QPushButton>(PanelOptions, {576, 40, 25, 25}, "X");
    for (QLabel* label : {LFilterIpAddr, LFilterMacAddr}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    GridTrace = new GridView(this);
    GridTrace->setGeometry(0, 73, kClientWidth, kClientHeight - 73);
    applyGridSetup(*GridTrace, traceGridSetup());
    GridTrace->setKeyboardCopy(false);
}

void TFTrace::arrangeTabOrder() {
    QWidget::setTabOrder(PanelOptions, GridTrace);
    QWidget* const order[] = {ChActive,
                              BClearTrace,
                              EFilterIpAddr,
                              EFilterMacAddr,
                              BRemoveIpAddrFilter,
                              BRemoveMacAddrFilter,
                              BSaveTrace,
                              GridTrace};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        QWidget::setTabOrder(order[i], order[i + 1]);
    }
}

void TFTrace::connectHandlers() {
    connect(BClearTrace, &QPushButton::clicked, this, [this] { BClearTraceClick(); });
    connect(BSaveTrace, &QPushButton::clicked, this, [this] { BSaveTraceClick(); });
    connect(BRemoveIpAddrFilter, &QPushButton::clicked, this,
            [this] { BRemoveIpAddrFilterClick(); });
    connect(BRemoveMacAddrFilter, &QPushButton::clicked, this,
            [this] { BRemoveMacAddrFilterClick(); });
    connect(ChActive, &QCheckBox::toggled, this, [this](bool on) { m_filter.active = on; });
    connect(EFilterIpAddr, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_filter.ipAddr = text.toStdString(); });
    connect(EFilterMacAddr, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_filter.macAddr = text.toStdString(); });
    GridTrace->setOnDblClickCell([this](int row, int col) { GridTraceDblClickCell(row, col); });
    GridTrace->setOnCanEditCell(&TFTrace::GridTraceCanEditCell);
    GridTrace->setOnContextMenu(
        [this](int row, int, const QPoint& at) { recordMenu(row)->exec(at); });
}

TraceFilter TFTrace::currentFilter() const {
    return {isVisible(), ChActive->isChecked(), EFilterIpAddr->text().toStdString(),
            EFilterMacAddr->text().toStdString()};
}

void TFTrace::addTraceRecord(const std::string& ipAddr, const TPacket& packet) {
    m_filter.windowShowing = isVisible();
    m_log->addTraceRecord(ipAddr, packet, m_filter);
}

void TFTrace::clearTrace() {
    m_log->clearTrace();
}

void TFTrace::BClearTraceClick() {
    clearTrace();
}

void TFTrace::BRemoveIpAddrFilterClick() {
    EFilterIpAddr->clear();
}

void TFTrace::BRemoveMacAddrFilterClick() {
    EFilterMacAddr->clear();
}

void TFTrace::BSaveTraceClick() {
    saveThroughDialog(SaveTraceDialog,
                      [this](const std::string& path) { GridTrace->saveAsHtml(path); });
}

void TFTrace::saveThroughDialog(SaveDialogSettings& dialog,
                                const std::function<void(const std::string& path)>& write) {
    runHandler(
        this,
        [&] {
            const std::optional<QString> path = m_dialogs.saveFileName(this, dialog);
            if (!path) {
                return;
            }
            dialog.fileName = *path;
            write(path->toStdString());
        },
        m_dialogs.error);
}

void TFTrace::GridTraceDblClickCell(int row, int col) {
    const FilterCopy copy = filterCopyForCell(*GridTrace, row, col);
    const QString text = QString::fromStdString(copy.text);
    if (copy.field == FilterCopy::Field::Ip) {
        EFilterIpAddr->setText(text);
    } else if (copy.field == FilterCopy::Field::Mac) {
        EFilterMacAddr->setText(text);
    }
}

void TFTrace::GridTraceCanEditCell(int, int, bool& canEdit) {
    canEdit = false;
}

std::unique_ptr<QMenu> TFTrace::recordMenu(int row) {
    auto menu = std::make_unique<QMenu>(this);
    if (const std::optional<TraceRecordCopy> record = traceRecordAt(*GridTrace, row)) {
        const auto copy = [](const std::string& text) {
            return [text = QString::fromStdString(text)] {
                QGuiApplication::clipboard()->setText(text);
            };
        };
        const auto fill = [](QLineEdit* filter, const std::string& text) {
            return [filter, text = QString::fromStdString(text)] { filter->setText(text); };
        };
        menu->addAction(QStringLiteral("Копировать"), copy(record->line));
        menu->addAction(QStringLiteral("Копировать пакет (hex)"), copy(record->hexDump));
        menu->addAction(QStringLiteral("Фильтр по этому IP"), fill(EFilterIpAddr, record->ipAddr));
        menu->addAction(QStringLiteral("Фильтр по этому MAC"),
                        fill(EFilterMacAddr, record->macAddr));
        menu->addSeparator();
    }
    menu->addAction(QStringLiteral("Сохранить как CSV..."), [this] { saveTraceAsCsv(); });
    if (m_extendMenu) {
        menu->addSeparator();
        m_extendMenu(*menu);
    }
    return menu;
}

void TFTrace::saveTraceAsCsv() {
    saveThroughDialog(SaveCsvDialog, [this](const std::string& path) {
        saveTraceCsv(path, *GridTrace, m_format);
    });
}

void TFTrace::showDeviceTrace(const QString& macAddr) {
    EFilterMacAddr->setText(macAddr);
    show();
    raise();
    activateWindow();
}

}  // namespace qvlink
