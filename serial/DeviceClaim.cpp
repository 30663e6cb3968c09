// SPDX-License-Identifier: MIT
#include "serial/DeviceClaim.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>
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

// Why the kernel would refuse the path for its length, or empty.
QString pathTooLong(const QByteArray &path)
{
    if (path.size() >= PATH_MAX)
        return QStringLiteral("the device path is too long: %1 characters, at most %2 are allowed")
            .arg(path.size())
            .arg(PATH_MAX - 1);
    for (const QByteArray &name : path.split('/'))
        if (name.size() > NAME_MAX)
            return QStringLiteral("the device path is too long: a name in it has %1 characters, at most %2 are "
                                  "allowed")
                .arg(name.size())
                .arg(NAME_MAX);
    return {};
}

// What an open descriptor is when it is no terminal, or empty.
QString notATerminal(int fd)
{
    struct stat st{};
    if (::fstat(fd, &st) != 0)
        return {};
    if (S_ISREG(st.st_mode))
        return QStringLiteral("a regular file");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("a FIFO (named pipe)");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("a socket");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("a directory");
    if (!::isatty(fd))
        return QStringLiteral("a character device that is no terminal (as /dev/null is)");
    return {};
}

bool processHasGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0)
        return false;
    std::vector<gid_t> groups(size_t(n), 0);
    const int got = ::getgroups(n, groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(got, 0), gid) != groups.begin() + std::max(got, 0);
}

// The system's list of groups names the user as a member (it may have been
// added after this session began).
bool userListedInGroup(uid_t uid, const struct group *g)
{
    const struct passwd *pw = ::getpwuid(uid);
    if (!pw || !g)
        return false;
    if (pw->pw_gid == g->gr_gid)
        return true;
    for (char **m = g->gr_mem; m && *m; ++m)
        if (std::strcmp(*m, pw->pw_name) == 0)
            return true;
    return false;
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

namespace {
// Links resolved: the device itself, with the one lock all its names share.
// Empty, with *why set, when the path leads to no device.
QString resolveDevice(const QString &path, QString *why)
{
    const QByteArray given = QFile::encodeName(path);
    if (const QString tooLong = pathTooLong(given); !tooLong.isEmpty()) {
        *why = tooLong;
        return {};
    }
    char *resolved = ::realpath(given.constData(), nullptr);
    if (resolved) {
        QString device = QFile::decodeName(resolved);
        std::free(resolved);
        return device;
    }
    switch (errno) {
    case EACCES:
        *why = QStringLiteral("permission denied: a directory on the path may not be entered");
        break;
    case ELOOP:
        *why = QStringLiteral("no such device: the path's links lead round in a circle");
        break;
    case ENAMETOOLONG:
        *why = QStringLiteral("the device path is too long once its links are followed");
        break;
    default: {
        const QFileInfo info(path);
        *why = info.isSymLink() ? QStringLiteral("no such device (the link points to %1, which does not exist)")
                                      .arg(info.symLinkTarget())
                                : QStringLiteral("no such device");
    }
    }
    return {};
}

// Why the device's own open failed with `err`.
QString openRefusal(int err, const QString &device, const QString &viaLink)
{
    switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("no such device%1").arg(viaLink);
    case EACCES:
    case EPERM:
        return DeviceClaim::permissionProblem(device);
    case EBUSY: {
        const QString holder = DeviceClaim::flockHolder(device);
        return QStringLiteral("the device%1 is in use by another program%2, which holds it in exclusive mode")
            .arg(viaLink, holder.isEmpty() ? QString() : QStringLiteral(": ") + holder);
    }
    case EISDIR:
        return QStringLiteral("not a serial device%1: it is a directory").arg(viaLink);
    case ENAMETOOLONG:
        return QStringLiteral("the device path%1 is too long").arg(viaLink);
    default:
        return QStringLiteral("%1%2").arg(QString::fromLocal8Bit(std::strerror(err)), viaLink);
    }
}
} // namespace

bool DeviceClaim::claim(const QString &path, QString *why)
{
    release();
    m_note.clear();
    const QString device = resolveDevice(path, why);
    if (device.isEmpty())
        return false;
    const QString viaLink = device == path ? QString() : QStringLiteral(" (%1)").arg(device);
    StaleLock stale;
    if (!checkLockFiles(device, viaLink, &stale, why))
        return false;
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = openRefusal(errno, device, viaLink);
        return false;
    }
    // Only a terminal device carries a serial line: a file, a pipe or a
    // device such as /dev/null opens, but has no line settings.
    if (const QString kind = notATerminal(fd); !kind.isEmpty()) {
        ::close(fd);
        *why = QStringLiteral("not a serial device%1: it is %2").arg(viaLink, kind);
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
    if (!stale.file.isEmpty())
        m_note = QStringLiteral("took over the stale lock file %1: it named process %2, which no longer runs")
                     .arg(stale.file)
                     .arg(stale.pid);
    return true;
}

bool DeviceClaim::checkLockFiles(const QString &device, const QString &viaLink, StaleLock *stale, QString *why)
{
    // QSerialPort takes a lock file named after the device; a name too long
    // for a file cannot be locked, so the port would not open.
    const QByteArray lockFile = QFile::encodeName(lockName(device));
    if (lockFile.size() > NAME_MAX) {
        *why = QStringLiteral("the device path%1 is too long for its lock file: the name %2... would have %3 "
                              "characters, at most %4 are allowed")
                   .arg(viaLink, QFile::decodeName(lockFile.left(24)))
                   .arg(lockFile.size())
                   .arg(NAME_MAX);
        return false;
    }
    if (const LockHolder held = lockFileHolder(device); !held.holder.isEmpty()) {
        *why = QStringLiteral("the device%1 is in use by another program: %2 holds its lock file %3")
                   .arg(viaLink, held.holder, held.file);
        return false;
    }
    // A lock file left by a process that has ended: taken over (removed), as
    // QSerialPort would; one this user may not remove keeps the port from opening.
    *stale = staleLockFile(device);
    if (!stale->file.isEmpty() && ::unlink(QFile::encodeName(stale->file).constData()) != 0 && errno != ENOENT) {
        *why = QStringLiteral("the device%1 has a stale lock file: %2 names process %3, which no longer runs, "
                              "and this user may not remove it; remove it (sudo rm %2)")
                   .arg(viaLink, stale->file)
                   .arg(stale->pid);
        return false;
    }
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

namespace {
struct LockFileEntry
{
    QString file;
    qint64 pid = 0;
    QString program; // the name QSerialPort writes on the second line, if any
};

// The lock files of the device that name a process.
QList<LockFileEntry> lockFilesOf(const QString &device)
{
    QList<LockFileEntry> out;
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
        if (ok && pid > 0)
            out.append({f.fileName(), pid, QString::fromLocal8Bit(lines.value(1)).trimmed()});
    }
    return out;
}
} // namespace

DeviceClaim::LockHolder DeviceClaim::lockFileHolder(const QString &device)
{
    for (const LockFileEntry &e : lockFilesOf(device))
        if (processAlive(e.pid))
            return {programOf(e.pid, e.program), e.file};
    return {};
}

DeviceClaim::StaleLock DeviceClaim::staleLockFile(const QString &device)
{
    for (const LockFileEntry &e : lockFilesOf(device))
        if (!processAlive(e.pid))
            return {e.file, e.pid};
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
    const struct group *g = ::getgrgid(st.st_gid);
    if (g)
        group = QString::fromLocal8Bit(g->gr_name);
    const QString mode = QStringLiteral("%1 (%2)").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0')).arg(modeText(st.st_mode));
    // What the mode grants this process; when it grants reading and
    // writing, something else refuses and no advice about groups helps.
    const uid_t uid = ::geteuid();
    const bool rw = uid == st.st_uid ? (st.st_mode & S_IRUSR) && (st.st_mode & S_IWUSR)
                    : processHasGroup(st.st_gid) ? (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP)
                                                 : (st.st_mode & S_IROTH) && (st.st_mode & S_IWOTH);
    if (rw)
        return QStringLiteral("permission denied by the system, not by the device's mode %1: the file system may be "
                              "mounted without devices (nodev), or an access control list or a security module "
                              "refuses")
            .arg(mode);
    // Joining the group helps only where the group may read and write, and
    // joining group root is no advice to give.
    if (st.st_gid != 0 && (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP)) {
        if (userListedInGroup(uid, g))
            return QStringLiteral("permission denied; your user is in the group \"%1\" that owns the device, but "
                                  "this session began before it joined: log in again (or start the program under "
                                  "\"newgrp %1\")")
                .arg(group);
        return QStringLiteral("permission denied; add your user to the group \"%1\" that owns the device "
                              "(sudo usermod -aG %1 $USER), then log in again")
            .arg(group);
    }
    return QStringLiteral("permission denied: %1 belongs to user %2 and group %3 with mode %4; its owner "
                          "or the administrator can give it to a group such as dialout")
        .arg(device, owner, group, mode);
}
