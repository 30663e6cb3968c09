// SPDX-License-Identifier: MIT
#pragma once
// The record of the line, in order: every write and every read of the port,
// the bytes an input drain threw away, the line's opening, closing and loss,
// and what the window said about it (transcript lines, error box texts, the
// outcome of each exchange). The latest records are kept in a ring bounded
// in count and in bytes, so that memory stays flat however long a test runs.
// Recording is one append (or the growth of the last received frame);
// turning records into text waits until they are shown or written.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <vector>

struct MonitorRecord
{
    enum Kind : quint8 {
        Tx,     // bytes written (one write, one frame)
        Rx,     // bytes read by a wait, grouped by arrival until a pause
        Drop,   // bytes read by an input drain and thrown away
        Open,   // the line opened; text: port, device, settings
        Close,  // the line was closed
        Lost,   // the line was lost; text: why
        Show,   // the transcript started afresh with this line
        Line,   // a line appended to the transcript
        Error,  // the error box's text
        Result, // the outcome of an exchange
        KindCount
    };
    quint64 seq = 0;    // 1, 2, 3 ...; never reused
    qint64 lineNs = -1; // since the line last opened; -1 before it ever opened
    qint64 wallMs = 0;  // wall clock, ms since the epoch
    Kind kind = Tx;
    // The bytes (Tx, Rx, Drop), the transcript line as its bytes (Show,
    // Line), or the program's own text in UTF-8 (Open, Close, Lost, Error,
    // Result).
    QByteArray bytes;

    bool isBytes() const { return kind == Tx || kind == Rx || kind == Drop; }
    bool isUtf8Text() const { return kind >= Open && kind != Show && kind != Line; }
};

class LineMonitor
{
public:
    static constexpr qsizetype kDefaultCapacity = 100000;
    static constexpr qint64 kDefaultByteBound = 32LL * 1024 * 1024;
    // Received bytes join the frame before them unless this much time (or,
    // on a slow line, three and a half characters' time) passed between.
    static constexpr qint64 kMinFrameGapNs = 2'000'000;

    explicit LineMonitor(qsizetype capacity = kDefaultCapacity, qint64 byteBound = kDefaultByteBound);

    // ---- Recording
    // The line opened: its clock starts. `characterNs`: one character's time
    // on the line, for the pause that ends a received frame (0: unknown).
    void opened(const QByteArray &description, qint64 characterNs = 0);
    void closed();
    void lost(const QByteArray &reason);
    void wrote(const QByteArray &bytes);
    // Bytes read; `discarded` when an input drain threw them away.
    void read(const QByteArray &bytes, bool discarded);
    // A text record (Show, Line, Error, Result).
    void note(MonitorRecord::Kind kind, const QByteArray &text);
    // The received frame in progress is complete: the next read starts a new one.
    void endFrame() { m_frameOpen = false; }
    // Off: nothing is recorded (for measuring what recording costs).
    void setRecording(bool on) { m_recording = on; }

    // ---- Reading. Records are found by sequence number.
    bool isEmpty() const { return m_size == 0; }
    qsizetype size() const { return m_size; }
    quint64 firstSeq() const { return m_nextSeq - quint64(m_size); }
    quint64 lastSeq() const { return m_nextSeq - 1; } // 0: nothing recorded yet
    // The record, or nullptr when it was pushed out of the ring or cleared.
    const MonitorRecord *find(quint64 seq) const;
    // Records pushed out of the ring by newer ones since the start.
    quint64 pushedOut() const { return m_pushedOut; }
    qint64 heldBytes() const { return m_bytes; }
    qsizetype capacity() const { return m_capacity; }
    // The last Open record still held, or 0.
    quint64 lastOpenSeq() const;
    // Called after every change: a record added, or the last one grown.
    // Must be cheap; views use it to schedule a repaint.
    void setChangeHook(std::function<void()> hook) { m_changed = std::move(hook); }

    // ---- Text
    // "02 3F 20 43 31 03"; with maxBytes > 0 at most that many bytes, and
    // "...(+N bytes)" for the rest.
    static QString hex(const QByteArray &bytes, qsizetype maxBytes = 0);
    // Control characters by name: "<STX>? C1<ETX>", "<CR>", bytes above 126
    // as "<xB0>", and "<" itself as "<x3C>", so that every "<" starts a name.
    static QString named(const QByteArray &bytes, qsizetype maxBytes = 0);
    // The record's text field: its bytes named, or its UTF-8 text with
    // control characters and "<" named the same way.
    static QString text(const MonitorRecord &r, qsizetype maxBytes = 0);
    // "TX", "RX", "DROP", "OPEN", "CLOSE", "LOST", "SHOW", "LINE", "ERROR", "RESULT"
    static QString kindName(MonitorRecord::Kind kind);
    // "2024-05-02T14:03:07.512"
    static QString wallText(qint64 wallMs);
    // "12.345", or "-" before the line ever opened.
    static QString lineMsText(qint64 lineNs);
    // The record as one line of the session log (no line end):
    // wall clock TAB ms since the line opened TAB kind TAB hex TAB text.
    static QString logLine(const MonitorRecord &r);
    // The comment lines that open a log file (each ending in a line feed).
    static QString logHeader();

private:
    MonitorRecord &append(MonitorRecord::Kind kind, const QByteArray &bytes);
    void makeRoom(qint64 extraBytes);
    void dropOldest();
    qint64 now() const { return m_everOpened ? m_clock.nsecsElapsed() : -1; }
    void changed()
    {
        if (m_changed)
            m_changed();
    }

    qsizetype m_capacity;
    qint64 m_byteBound;
    std::vector<MonitorRecord> m_ring;
    qsizetype m_head = 0; // index of the oldest record
    qsizetype m_size = 0;
    quint64 m_nextSeq = 1;
    quint64 m_pushedOut = 0;
    qint64 m_bytes = 0;
    QElapsedTimer m_clock;
    bool m_everOpened = false;
    bool m_recording = true;
    qint64 m_frameGapNs = kMinFrameGapNs;
    bool m_frameOpen = false;  // the last record is a received frame that may grow
    qint64 m_frameLastNs = 0;  // when its last bytes came
    std::function<void()> m_changed;
};
