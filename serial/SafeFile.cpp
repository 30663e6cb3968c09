// SPDX-License-Identifier: MIT
#include "serial/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

mode_t usualMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}
} // namespace

int SafeFile::createNew(const QString &path, QString *created, QString *error)
{
    const QFileInfo info(path);
    const QString stem = info.completeBaseName();
    const QString ext = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    for (int n = 1; n <= 1000; ++n) {
        const QString candidate =
            n == 1 ? path : info.dir().filePath(QStringLiteral("%1-%2%3").arg(stem).arg(n).arg(ext));
        const int fd = ::open(QFile::encodeName(candidate).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *created = candidate;
            return fd;
        }
        if (errno != EEXIST) {
            *error = reason(errno);
            return -1;
        }
    }
    *error = QStringLiteral("every name from %1 on is taken").arg(info.fileName());
    return -1;
}

bool SafeFile::writeAll(int fd, const QByteArray &data, QString *error)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        *error = reason(n < 0 ? errno : EIO);
        return false;
    }
    return true;
}

bool SafeFile::replace(const QString &path, const QByteArray &data, QString *error)
{
    const QByteArray target = QFile::encodeName(path);
    mode_t mode = usualMode();
    struct stat st{};
    if (::lstat(target.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            *error = reason(EISDIR);
            return false;
        }
        if (S_ISREG(st.st_mode))
            mode = st.st_mode & 07777;
    }
    const QFileInfo info(path);
    QByteArray temp = QFile::encodeName(info.dir().filePath(QStringLiteral(".%1.XXXXXX").arg(info.fileName())));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = reason(errno);
        return false;
    }
    bool ok = writeAll(fd, data, error);
    if (ok && (::fchmod(fd, mode) != 0 || ::fdatasync(fd) != 0)) {
        *error = reason(errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        *error = reason(errno);
        ok = false;
    }
    if (ok && ::rename(temp.constData(), target.constData()) != 0) {
        *error = reason(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temp.constData());
    return ok;
}
