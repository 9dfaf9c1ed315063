// qvlink-monitor: the QV-LINK bus monitor. Takes no arguments; listens on UDP port 973.

#include <QApplication>

#include "app/fonts.h"
#include "app/main_window.h"
#include "app/termination_signals.h"
#include "trace/trace_window.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("qvlink-monitor"));
    qvlink::registerTahomaFace();

    const qvlink::FormatSettings format = qvlink::FormatSettings::fromSystemLocale();
    const qvlink::Dialogs dialogs = qvlink::Dialogs::modal();
    qvlink::TFMain FMain(qvlink::MonitorSettings{}, qvlink::systemLocalTime, format, dialogs);
    qvlink::TFTrace FTrace(qvlink::systemLocalTime, format, dialogs);
    FMain.setTraceWindow(&FTrace);
    FMain.show();
    const qvlink::TerminationSignals terminationSignals([&FMain] { FMain.close(); });

    const int exitCode = QApplication::exec();
    FMain.stopUdpServer();
    return exitCode;
}
