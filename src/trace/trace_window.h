#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "common/bus_types.h"
#include "common/clock.h"
#include "common/rendering.h"
#include "trace/trace_log.h"
#include "ui/dialogs.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace qvlink {

class GridView;

/// The bus trace window: a rolling log of received datagrams with its switch, IP and MAC
/// filters, clearing and HTML export. Created hidden; closing it only hides it.
class TFTrace : public QWidget {
    Q_OBJECT

public:
    TFTrace(Clock clock, FormatSettings format, Dialogs dialogs, QWidget* parent = nullptr);
    ~TFTrace() override;

    /// Logs an accepted datagram when the window is showing, tracing is on and the filters
    /// admit it.
    void addTraceRecord(const std::string& ipAddr, const TPacket& packet);
    void clearTrace();

    void BClearTraceClick();
    void BRemoveIpAddrFilterClick();
    void BRemoveMacAddrFilterClick();
    void BSaveTraceClick();
    void GridTraceDblClickCell(int row, int col);
    static void GridTraceCanEditCell(int row, int col, bool& canEdit);

    /// The context menu of grid row `row`, acting on the record that row holds now: copy it
    /// or its datagram, filter by its sender or device; and, for any row, "Сохранить как
    /// CSV...".
    std::unique_ptr<QMenu> recordMenu(int row);
    /// Asks for a file in a save dialog of its own and writes the trace there as CSV.
    void saveTraceAsCsv();
    /// Adds the program's own entries to the end of every context menu of the grid.
    void setMenuExtension(std::function<void(QMenu& menu)> extend) {
        m_extendMenu = std::move(extend);
    }
    /// Shows the window with the MAC filter set to `macAddr`, as if typed.
    void showDeviceTrace(const QString& macAddr);

    QFrame* PanelOptions;
    QCheckBox* ChActive;
    QPushButton* BClearTrace;
    QPushButton* BSaveTrace;
    QLabel* LFilterIpAddr;
    QLineEdit* EFilterIpAddr;
    QPushButton* BRemoveIpAddrFilter;
    QLabel* LFilterMacAddr;
    QLineEdit* EFilterMacAddr;
    QPushButton* BRemoveMacAddrFilter;
    GridView* GridTrace;
    /// Settings of the save dialog; its file name is the last one chosen.
    SaveDialogSettings SaveTraceDialog;
    /// Settings of the CSV save dialog, apart from the HTML one.
    SaveDialogSettings SaveCsvDialog;

private:
    void createControls();
    void arrangeTabOrder();
    void connectHandlers();
    /// Asks for a file with `dialog`, remembers the choice and has `write` write it there; a
    /// failure is shown in the error box.
    void saveThroughDialog(SaveDialogSettings& dialog,
                           const std::function<void(const std::string& path)>& write);
    /// The switch and filters as they stand now.
    TraceFilter currentFilter() const;

    Dialogs m_dialogs;
    FormatSettings m_format;
    TraceFilter m_filter;  // follows the controls' signals, so no text is copied per datagram
    std::unique_ptr<TraceLog> m_log;
    std::function<void(QMenu& menu)> m_extendMenu;
};

}  // namespace qvlink
