// SPDX-License-Identifier: MIT
#include "app/LineMonitorView.h"

#include "serial/LineMonitor.h"

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

// The records from `first` to `last` as rows. The ring moves on between
// refreshes; the model follows it only in refresh(), with the row changes
// a view needs to keep its place.
class MonitorModel : public QAbstractTableModel
{
public:
    enum Column { LineMs, Wall, Kind, Hex, Text, ColumnCount };
    // The most bytes a row shows of its record.
    static constexpr qsizetype kShownBytes = 256;

    explicit MonitorModel(const LineMonitor &monitor, QObject *parent) : QAbstractTableModel(parent), m_monitor(monitor)
    {
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() || m_last < m_first ? 0 : int(m_last - m_first + 1);
    }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : ColumnCount; }

    const MonitorRecord *record(int row) const { return row < 0 ? nullptr : m_monitor.find(m_first + quint64(row)); }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const char *const titles[ColumnCount] = {"ms", "Wall clock", "Record", "Hex", "Text"};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
            return QLatin1String(titles[section]);
        return {};
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const MonitorRecord *r = record(index.row());
        if (!r)
            return role == Qt::DisplayRole && index.column() == Text ? QStringLiteral("(pushed out of the monitor)")
                                                                     : QVariant();
        switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
            case LineMs: return LineMonitor::lineMsText(r->lineNs);
            case Wall: return QDateTime::fromMSecsSinceEpoch(r->wallMs).toString(QStringLiteral("HH:mm:ss.zzz"));
            case Kind: return LineMonitor::kindName(r->kind);
            // A row shows the start of a long frame: painting costs the same
            // whatever came (Copy and the logs have it whole).
            case Hex: return r->isBytes() ? LineMonitor::hex(r->bytes, kShownBytes) : QString();
            case Text: return LineMonitor::text(*r, kShownBytes);
            }
            break;
        case Qt::ToolTipRole:
            if (index.column() == Wall)
                return LineMonitor::wallText(r->wallMs);
            if (index.column() == Text && r->bytes.size() > kShownBytes)
                return QStringLiteral("%1 bytes; Copy puts them all on the clipboard").arg(r->bytes.size());
            break;
        case Qt::ForegroundRole:
            return colour(r->kind);
        case Qt::FontRole:
            if (r->kind == MonitorRecord::Error || r->kind == MonitorRecord::Lost || r->kind == MonitorRecord::Open ||
                r->kind == MonitorRecord::Close) {
                QFont f;
                f.setBold(true);
                return f;
            }
            break;
        default:
            break;
        }
        return {};
    }

    // Follows the ring from `from` (the first record to show) to its end.
    void follow(quint64 from)
    {
        const quint64 first = std::max(from, m_monitor.firstSeq());
        const quint64 last = m_monitor.lastSeq();
        if (first > m_last || first < m_first || last < m_last) {
            beginResetModel();
            m_first = first;
            m_last = std::max(last, first - 1);
            endResetModel();
            return;
        }
        if (first > m_first) {
            beginRemoveRows({}, 0, int(first - m_first - 1));
            m_first = first;
            endRemoveRows();
        }
        // The last received frame may have grown.
        if (m_last >= m_first)
            emit dataChanged(index(rowCount() - 1, 0), index(rowCount() - 1, ColumnCount - 1));
        if (last > m_last) {
            beginInsertRows({}, rowCount(), rowCount() + int(last - m_last) - 1);
            m_last = last;
            endInsertRows();
        }
    }

    quint64 lastShown() const { return m_last; }

private:
    static QVariant colour(MonitorRecord::Kind kind)
    {
        switch (kind) {
        case MonitorRecord::Tx: return QColor(0x1f, 0x4e, 0xa8);
        case MonitorRecord::Rx: return QColor(0x0a, 0x6a, 0x1a);
        case MonitorRecord::Drop: return QColor(0xa0, 0x5a, 0x00);
        case MonitorRecord::Error:
        case MonitorRecord::Lost: return QColor(0xb0, 0x00, 0x00);
        case MonitorRecord::Show:
        case MonitorRecord::Line:
        case MonitorRecord::Result: return QColor(0x55, 0x55, 0x55);
        default: return {};
        }
    }

    const LineMonitor &m_monitor;
    quint64 m_first = 1;
    quint64 m_last = 0;
};

namespace {
QToolButton *toolButton(const char *name, const QString &caption, const QKeySequence &key, const QString &tip)
{
    auto *b = new QToolButton;
    b->setObjectName(QLatin1String(name));
    auto *a = new QAction(caption, b);
    a->setShortcut(key);
    // Only while the monitor has the focus: Ctrl+C in the main window's
    // entry boxes still copies their text.
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    a->setToolTip(QStringLiteral("%1 (%2)").arg(tip, key.toString(QKeySequence::NativeText)));
    b->setDefaultAction(a);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return b;
}

bool failedResult(const MonitorRecord &r)
{
    return r.kind == MonitorRecord::Result && r.bytes.split(' ').value(1) != "ok";
}
} // namespace

LineMonitorView::LineMonitorView(std::shared_ptr<LineMonitor> monitor, QWidget *parent)
    : QWidget(parent)
    , m_monitor(std::move(monitor))
{
    setObjectName(QStringLiteral("frmMonitor"));
    m_model = new MonitorModel(*m_monitor, this);

    tblMonitor = new QTableView;
    tblMonitor->setObjectName(QStringLiteral("tblMonitor"));
    tblMonitor->setAccessibleName(QStringLiteral("Line monitor"));
    tblMonitor->setModel(m_model);
    tblMonitor->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    tblMonitor->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblMonitor->setWordWrap(false);
    tblMonitor->setShowGrid(false);
    tblMonitor->setAlternatingRowColors(true);
    // Fixed row heights: a table of 100,000 rows lays out at once.
    tblMonitor->verticalHeader()->hide();
    tblMonitor->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tblMonitor->verticalHeader()->setDefaultSectionSize(tblMonitor->fontMetrics().lineSpacing() + 4);
    const QFontMetrics fm(tblMonitor->font());
    tblMonitor->setColumnWidth(MonitorModel::LineMs, fm.horizontalAdvance(QStringLiteral("0000000.000")) + 12);
    tblMonitor->setColumnWidth(MonitorModel::Wall, fm.horizontalAdvance(QStringLiteral("00:00:00.000")) + 12);
    tblMonitor->setColumnWidth(MonitorModel::Kind, fm.horizontalAdvance(QStringLiteral("RESULT")) + 12);
    tblMonitor->setColumnWidth(MonitorModel::Hex, fm.horizontalAdvance(QLatin1Char('0')) * 3 * 16 + 12);
    tblMonitor->horizontalHeader()->setStretchLastSection(true);
    tblMonitor->setMinimumSize(760, 260);
    // The table's corner button selects every row; screen readers say so.
    for (QAbstractButton *corner : tblMonitor->findChildren<QAbstractButton *>())
        corner->setAccessibleName(QStringLiteral("Select all rows"));

    cmdPause = toolButton("cmdMonitorPause", QStringLiteral("Pause"), QKeySequence(Qt::CTRL | Qt::Key_P),
                          QStringLiteral("Holds the table as it is; the line is still recorded"));
    cmdPause->defaultAction()->setCheckable(true);
    cmdClear = toolButton("cmdMonitorClear", QStringLiteral("Clear"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_X),
                          QStringLiteral("Starts the table afresh; the records stay for the log"));
    cmdCopy = toolButton("cmdMonitorCopy", QStringLiteral("Copy"), QKeySequence::Copy,
                         QStringLiteral("Copies the selected rows, or all, as log lines"));
    cmdNextFailure = toolButton("cmdMonitorNextFailure", QStringLiteral("Next failure"), QKeySequence(Qt::Key_F3),
                                QStringLiteral("Finds the next exchange that failed, or the loss of the line"));
    cmdSaveLog = new QToolButton;
    cmdSaveLog->setObjectName(QStringLiteral("cmdMonitorSaveLog"));
    cmdSaveLog->setToolButtonStyle(Qt::ToolButtonTextOnly);
    cmdSaveLog->hide(); // shown when the main window gives it its action
    lblMonitorStatus = new QLabel;
    lblMonitorStatus->setObjectName(QStringLiteral("lblMonitorStatus"));
    for (QToolButton *b : {cmdPause, cmdClear, cmdCopy, cmdNextFailure})
        addAction(b->defaultAction());
    connect(cmdPause->defaultAction(), &QAction::toggled, this, &LineMonitorView::setPaused);
    connect(cmdClear->defaultAction(), &QAction::triggered, this, &LineMonitorView::clear);
    connect(cmdCopy->defaultAction(), &QAction::triggered, this, &LineMonitorView::copy);
    connect(cmdNextFailure->defaultAction(), &QAction::triggered, this, &LineMonitorView::nextFailure);

    auto *buttons = new QHBoxLayout;
    for (QToolButton *b : {cmdPause, cmdClear, cmdCopy, cmdNextFailure, cmdSaveLog})
        buttons->addWidget(b);
    buttons->addSpacing(12);
    buttons->addWidget(lblMonitorStatus, 1);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->addLayout(buttons);
    outer->addWidget(tblMonitor, 1);

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(RefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &LineMonitorView::refresh);
    m_monitor->setChangeHook([this] { changed(); });
    showStatus();
}

LineMonitorView::~LineMonitorView()
{
    m_monitor->setChangeHook({});
}

// Called for every record: only schedules the next repaint, and only
// while the table is shown.
void LineMonitorView::changed()
{
    if (!m_refresh.isActive() && !m_paused && isVisible())
        m_refresh.start();
}

void LineMonitorView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
}

void LineMonitorView::refresh()
{
    m_refresh.stop();
    if (m_paused)
        return;
    // Called by the timer during an exchange: later, unless the table has
    // waited long enough (a loop may run exchanges back to back).
    if (sender() == &m_refresh && m_busy && m_busy() && m_sinceRefresh.isValid() &&
        m_sinceRefresh.elapsed() < HeldMaxMs) {
        m_refresh.start();
        return;
    }
    m_sinceRefresh.start();
    QScrollBar *bar = tblMonitor->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    m_model->follow(m_clearedThrough + 1);
    ++m_refreshes;
    if (atEnd)
        tblMonitor->scrollToBottom();
    showStatus();
}

void LineMonitorView::showStatus()
{
    QString text = QStringLiteral("%1 records held (at most %2)")
                       .arg(QLocale().toString(qlonglong(m_monitor->size())))
                       .arg(QLocale().toString(qlonglong(m_monitor->capacity())));
    if (m_monitor->pushedOut())
        text += QStringLiteral(", %1 older ones pushed out").arg(QLocale().toString(qulonglong(m_monitor->pushedOut())));
    if (m_paused && m_monitor->lastSeq() > m_model->lastShown())
        text += QStringLiteral("; paused, %1 new not shown").arg(m_monitor->lastSeq() - m_model->lastShown());
    else if (m_paused)
        text += QStringLiteral("; paused");
    lblMonitorStatus->setText(text);
}

void LineMonitorView::setPaused(bool paused)
{
    m_paused = paused;
    if (cmdPause->defaultAction()->isChecked() != paused)
        cmdPause->defaultAction()->setChecked(paused);
    if (!paused)
        refresh();
    showStatus();
}

void LineMonitorView::clear()
{
    m_clearedThrough = m_monitor->lastSeq();
    const bool paused = m_paused;
    m_paused = false;
    refresh();
    m_paused = paused;
}

int LineMonitorView::rowCount() const
{
    return m_model->rowCount();
}

QString LineMonitorView::copyText() const
{
    QList<int> rows;
    for (const QModelIndex &i : tblMonitor->selectionModel()->selectedRows())
        rows << i.row();
    if (rows.isEmpty())
        for (int r = 0; r < m_model->rowCount(); ++r)
            rows << r;
    std::sort(rows.begin(), rows.end());
    QString text;
    for (int r : rows)
        if (const MonitorRecord *rec = m_model->record(r))
            text += LineMonitor::logLine(*rec) + QLatin1Char('\n');
    return text;
}

void LineMonitorView::copy()
{
    QApplication::clipboard()->setText(copyText());
}

// A failure is an error box text, a loss of the line, or the outcome of an
// exchange that failed without an error text (a NAK, say): one stop per
// failed exchange.
bool LineMonitorView::isFailure(int row) const
{
    const MonitorRecord *rec = m_model->record(row);
    if (!rec)
        return false;
    if (rec->kind == MonitorRecord::Error || rec->kind == MonitorRecord::Lost)
        return true;
    if (!failedResult(*rec))
        return false;
    for (int r = row - 1; r >= 0; --r) {
        const MonitorRecord *before = m_model->record(r);
        if (!before || before->kind == MonitorRecord::Result)
            break;
        if (before->kind == MonitorRecord::Error || before->kind == MonitorRecord::Lost)
            return false; // the exchange's error was the stop
    }
    return true;
}

void LineMonitorView::nextFailure()
{
    const int from = tblMonitor->currentIndex().isValid() ? tblMonitor->currentIndex().row() + 1 : 0;
    for (int r = from; r < m_model->rowCount(); ++r) {
        if (isFailure(r)) {
            tblMonitor->setCurrentIndex(m_model->index(r, MonitorModel::Text));
            tblMonitor->selectRow(r);
            tblMonitor->scrollTo(m_model->index(r, 0), QAbstractItemView::PositionAtCenter);
            return;
        }
    }
    QApplication::beep();
}
