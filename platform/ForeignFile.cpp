#include "ForeignFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool readForeignFile(const QString &path, qint64 maxBytes, QByteArray *out)
{
    out->clear();
    // Non-blocking, so that opening a named pipe does not wait for a writer; the type is then
    // checked on the open descriptor, so the file cannot be swapped between check and read.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    const qint64 want = qMin<qint64>(maxBytes, st.st_size);
    out->reserve(want);
    char buf[65536];
    bool ok = true;
    while (out->size() < maxBytes) {
        const qint64 room = qMin<qint64>(qint64(sizeof buf), maxBytes - out->size());
        const ssize_t got = ::read(fd, buf, size_t(room));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        out->append(buf, qsizetype(got));
    }
    ::close(fd);
    if (!ok)
        out->clear();
    return ok;
}

} // namespace platform
