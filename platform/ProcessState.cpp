#include "ProcessState.h"

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace platform {

qint64 currentProcessId()
{
    return qint64(::getpid());
}

bool processRunning(qint64 pid)
{
    if (pid <= 0 || pid != qint64(pid_t(pid)))
        return false;
    // Signal 0 only asks; a process of another user answers with EPERM, and it runs.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

} // namespace platform
