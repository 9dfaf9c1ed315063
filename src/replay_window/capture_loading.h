#pragma once

// A capture loaded on a thread of its own while the event loop goes on, with a progress
// dialog once the load takes longer than a moment.

#include <QString>
#include <functional>

#include "capture_file/bus_capture.h"

namespace qvlink {

/// Runs `load` on a thread of its own and the event loop meanwhile, so that the GUI thread
/// never waits on the disk. The dialog "Загрузка записи `name`..." shows how far `load` says
/// it has come once the load takes longer than half a second; its "Отмена" makes the progress
/// `load` is given return false. Returns false when the load was given up that way; any other
/// exception of `load` is thrown again here.
bool loadShowingProgress(const QString& name,
                         const std::function<void(const capture::LoadProgress&)>& load);

}  // namespace qvlink
