// SPDX-License-Identifier: MIT
#include "serial/DeviceClaim.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
// Where lock files are looked for; QSerialPort writes to the first of these
// it may write to.
const char *const kLockDirs[] = {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp"};

QString lockName(const QString &device)
{
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

bool processAlive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QString programOf(qint64 pid, const QString &fallback = {})
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    QString name;
    if (comm.open(QIODevice::ReadOnly))
        name = QString::fromLocal8Bit(comm.readAll()).trimmed();
    if (name.isEmpty())
        name = fallback.isEmpty() ? QStringLiteral("a program") : fallback;
    return QStringLiteral("%1 (pid %2)").arg(name).arg(pid);
}

QString modeText(mode_t mode)
{
    const char kinds[] = {'r', 'w', 'x'};
    QString text = S_ISCHR(mode) ? QStringLiteral("c") : S_ISDIR(mode) ? QStringLiteral("d") : QStringLiteral("-");
    for (int shift = 6; shift >= 0; shift -= 3)
        for (int i = 0; i < 3; ++i)
            text += (mode >> (shift + 2 - i)) & 1 ? QLatin1Char(kinds[i]) : QLatin1Char('-');
    return text;
}
} // namespace

DeviceClaim::~DeviceClaim()
{
    release();
}

bool DeviceClaim::claim(const QString &path, QString *why)
{
    release();
    const QFileInfo given(path);
    const QString device = given.canonicalFilePath();
    if (device.isEmpty()) {
        *why = given.isSymLink() ? QStringLiteral("no such device (the link points to %1, which does not exist)")
                                       .arg(given.symLinkTarget())
                                 : QStringLiteral("no such device");
        return false;
    }
    const QString viaLink = device == path ? QString() : QStringLiteral(" (%1)").arg(device);

    const QString lockHolder = lockFileHolder(device);
    if (!lockHolder.isEmpty()) {
        *why = QStringLiteral("the device%1 is in use by another program: %2 holds its lock file %3")
                   .arg(viaLink, lockHolder, lockFilePath(device));
        return false;
    }

    const QByteArray native = QFile::encodeName(device);
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        switch (err) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            *why = QStringLiteral("no such device%1").arg(viaLink);
            break;
        case EACCES:
        case EPERM:
            *why = permissionProblem(device);
            break;
        case EBUSY: {
            const QString holder = flockHolder(device);
            *why = QStringLiteral("the device%1 is in use by another program%2, which holds it in exclusive mode")
                       .arg(viaLink, holder.isEmpty() ? QString() : QStringLiteral(": ") + holder);
            break;
        }
        default:
            *why = QString::fromLocal8Bit(std::strerror(err));
        }
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        const QString holder = flockHolder(device);
        ::close(fd);
        *why = QStringLiteral("the device%1 is in use by another program: %2 holds a lock on it")
                   .arg(viaLink, holder.isEmpty() ? QStringLiteral("a program") : holder);
        return false;
    }
    m_fd = fd;
    m_device = device;
    return true;
}

void DeviceClaim::release()
{
    if (m_fd >= 0)
        ::close(m_fd); // gives the flock up too
    m_fd = -1;
    m_device.clear();
}

QString DeviceClaim::lockFilePath(const QString &device)
{
    return QStringLiteral("/var/lock/") + lockName(device);
}

QString DeviceClaim::lockFileHolder(const QString &device)
{
    for (const char *dir : kLockDirs) {
        QFile f(QString::fromLatin1(dir) + QLatin1Char('/') + lockName(device));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = f.read(256);
        // ASCII: the pid on the first line (padded to ten places by UUCP
        // programs; QSerialPort adds the program name and host on the next
        // lines). Binary: the pid as a 4-byte integer (old Kermit style).
        const QList<QByteArray> lines = content.split('\n');
        bool ok = false;
        qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
        if (!ok && content.size() == 4) {
            qint32 binary = 0;
            std::memcpy(&binary, content.constData(), 4);
            pid = binary;
            ok = true;
        }
        if (ok && processAlive(pid))
            return programOf(pid, QString::fromLocal8Bit(lines.value(1)).trimmed());
    }
    return {};
}

QString DeviceClaim::flockHolder(const QString &device)
{
    struct stat st{};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return {};
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    // "1: FLOCK  ADVISORY  WRITE 4711 00:1a:6 0 EOF": pid, then the
    // file's device (major:minor in hex) and inode.
    const QList<QByteArray> lines = locks.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 6 || f.value(1) != "FLOCK")
            continue;
        const QList<QByteArray> id = f[5].split(':');
        if (id.size() != 3)
            continue;
        bool okMajor = false, okMinor = false, okInode = false;
        const uint maj = id[0].toUInt(&okMajor, 16);
        const uint min = id[1].toUInt(&okMinor, 16);
        const qulonglong inode = id[2].toULongLong(&okInode);
        if (!okMajor || !okMinor || !okInode)
            continue;
        if (maj == major(st.st_dev) && min == minor(st.st_dev) && inode == st.st_ino) {
            bool ok = false;
            const qint64 pid = f[4].toLongLong(&ok);
            if (ok && pid > 0)
                return programOf(pid);
        }
    }
    return {};
}

QString DeviceClaim::permissionProblem(const QString &device)
{
    struct stat st{};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return QStringLiteral("permission denied");
    QString owner = QString::number(st.st_uid);
    if (const struct passwd *pw = ::getpwuid(st.st_uid))
        owner = QString::fromLocal8Bit(pw->pw_name);
    QString group = QString::number(st.st_gid);
    if (const struct group *g = ::getgrgid(st.st_gid))
        group = QString::fromLocal8Bit(g->gr_name);
    // Joining the group helps only where the group may read and write, and
    // joining group root is no advice to give.
    if (st.st_gid != 0 && (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP))
        return QStringLiteral("permission denied; add your user to the group \"%1\" that owns the device "
                              "(sudo usermod -aG %1 $USER), then log in again")
            .arg(group);
    return QStringLiteral("permission denied: %1 belongs to user %2 and group %3 with mode %4 (%5); its owner "
                          "or the administrator can give it to a group such as dialout")
        .arg(device, owner, group, QStringLiteral("%1").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0')),
             modeText(st.st_mode));
}
