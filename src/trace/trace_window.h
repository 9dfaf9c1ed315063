#pragma once

#include <QWidget>
#include <memory>

#include "common/bus_types.h"
#include "common/clock.h"
#include "common/rendering.h"
#include "trace/trace_log.h"
#include "ui/dialogs.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
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

private:
    void createControls();
    void arrangeTabOrder();
    void connectHandlers();
    /// The switch and filters as they stand now.
    TraceFilter currentFilter() const;

    Dialogs m_dialogs;
    TraceFilter m_filter;  // follows the controls' signals, so no text is copied per datagram
    std::unique_ptr<TraceLog> m_log;
};

}  // namespace qvlink
