// SPDX-License-Identifier: MIT
#pragma once
// Claims a serial device the way Linux serial programs do, before the port
// is opened on it, and tells who holds it when it cannot be claimed:
// - The path is resolved first: a /dev/serial/by-id/ link, any other link
//   and the device itself are one device with one lock.
// - A lock file LCK..<name> in /var/lock (the UUCP convention that minicom
//   and QSerialPort follow; QSerialPort takes it for the resolved name when
//   the port opens) with a living process in it means that process holds
//   the device.
// - The device is opened once more here and locked with flock(), the lock
//   picocom and other terminal programs take; the lock is kept until
//   release(). A device already held in exclusive mode (TIOCEXCL, which the
//   port sets while open) refuses this open with EBUSY.
// - A lock file left by a process that has ended is taken over (removed, as
//   QSerialPort and QLockFile do), and note() says so; one this user may not
//   remove is named with its process.
// - Only a terminal device is a serial line: a file, a pipe, a directory or
//   a device such as /dev/null is refused as not a serial device, and a path
//   too long for the system (or for the lock file named after it) as such.
// - When the open is refused for want of permission, the reason says whether
//   joining the device's group would help (or logging in again, for a user
//   added to it meanwhile), or else who owns it and its mode; when the mode
//   is not what refuses, it says so and gives no such advice.

#include <QString>

class DeviceClaim
{
public:
    DeviceClaim() = default;
    ~DeviceClaim();
    DeviceClaim(const DeviceClaim &) = delete;
    DeviceClaim &operator=(const DeviceClaim &) = delete;

    // Resolves `path` and claims the device it names. On success device()
    // is the resolved path to open; otherwise *why says what stands in the way.
    bool claim(const QString &path, QString *why);
    // Gives the device up (after the port on it was closed).
    void release();
    QString device() const { return m_device; }
    // What the last successful claim did beyond the usual (a stale lock file
    // taken over), for the user to see; empty when nothing.
    QString note() const { return m_note; }

    // The UUCP lock file of a resolved device path: /dev/ttyUSB0 gives
    // /var/lock/LCK..ttyUSB0, /dev/pts/3 gives /var/lock/LCK..pts_3.
    static QString lockFilePath(const QString &device);
    // A living process named in one of the device's lock files (in any of
    // the folders serial programs use): "picocom (pid 4711)" and the file.
    struct LockHolder
    {
        QString holder; // empty: none
        QString file;
    };
    static LockHolder lockFileHolder(const QString &device);
    // A lock file of the device that names a process no longer running.
    struct StaleLock
    {
        QString file; // empty: none
        qint64 pid = 0;
    };
    static StaleLock staleLockFile(const QString &device);
    // The same for a process holding a flock() on the device (from /proc/locks).
    static QString flockHolder(const QString &device);
    // Why the current user may not open the device, from its owner, group
    // and mode.
    static QString permissionProblem(const QString &device);

private:
    // The lock files checked (none held, none too long to make); a stale one
    // is taken over and returned in *stale. False, with *why, when one stands
    // in the way.
    static bool checkLockFiles(const QString &device, const QString &viaLink, StaleLock *stale, QString *why);

    int m_fd = -1;
    QString m_device;
    QString m_note;
};
