#pragma once
// Whether another process of this machine still runs: a record a process left half written tells by
// its writer's number whether that writer may still complete it.
#include <QtGlobal>

namespace platform {

qint64 currentProcessId();
// True while a process of that number exists (also one of another user); false for 0 and negatives.
bool processRunning(qint64 pid);

} // namespace platform
