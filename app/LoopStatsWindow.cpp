// SPDX-License-Identifier: MIT
#include "app/LoopStatsWindow.h"

#include "app/UiSeams.h"
#include "loops/LoopStats.h"
#include "serial/SafeFile.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <functional>

LoopStatsWindow::LoopStatsWindow(const LoopStats &command, const LoopStats &query, UiSeams &seams, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_command(command)
    , m_query(query)
    , m_seams(seams)
{
    setObjectName(QStringLiteral("frmLoopStats"));
    setWindowTitle(QStringLiteral("Loop Statistics"));
    setAttribute(Qt::WA_QuitOnClose, false);

    const QList<StatsRow> &rows = statsRows();
    tblLoopStats = new QTableWidget(int(rows.size()), 2);
    tblLoopStats->setObjectName(QStringLiteral("tblLoopStats"));
    tblLoopStats->setAccessibleName(QStringLiteral("Loop statistics"));
    tblLoopStats->setHorizontalHeaderLabels({QStringLiteral("Command Loop"), QStringLiteral("Query Loop")});
    QStringList labels;
    for (const StatsRow &r : rows)
        labels << QLatin1String(r.label);
    tblLoopStats->setVerticalHeaderLabels(labels);
    tblLoopStats->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblLoopStats->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tblLoopStats->verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < 2; ++c) {
            auto *item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            tblLoopStats->setItem(r, c, item);
        }
    for (QAbstractButton *corner : tblLoopStats->findChildren<QAbstractButton *>())
        corner->setAccessibleName(QStringLiteral("Select all"));
    tblLoopStats->setMinimumSize(520, tblLoopStats->verticalHeader()->length() + 40);

    // Each button has its key, set on an action of this window.
    const auto button = [this](const char *name, const QString &caption, const QKeySequence &key,
                               const std::function<void()> &act) {
        auto *b = new QPushButton(caption);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        b->setToolTip(key.toString(QKeySequence::NativeText));
        auto *a = new QAction(this);
        a->setShortcut(key);
        addAction(a);
        connect(a, &QAction::triggered, this, act);
        connect(b, &QPushButton::clicked, this, act);
        return b;
    };
    cmdCopyStats = button("cmdCopyStats", QStringLiteral("Copy"), QKeySequence::Copy, [this] { copy(); });
    cmdSaveStatsCsv =
        button("cmdSaveStatsCsv", QStringLiteral("Save CSV..."), QKeySequence::Save, [this] { saveCsv(); });
    auto *cmdClose = button("cmdCloseStats", QStringLiteral("Close"), QKeySequence(Qt::Key_Escape), [this] { close(); });

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmdCopyStats);
    buttons->addWidget(cmdSaveStatsCsv);
    buttons->addStretch(1);
    buttons->addWidget(cmdClose);
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(tblLoopStats, 1);
    outer->addLayout(buttons);

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(RefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &LoopStatsWindow::refresh);
}

void LoopStatsWindow::statsChanged()
{
    if (isVisible() && !m_refresh.isActive())
        m_refresh.start();
}

void LoopStatsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
}

void LoopStatsWindow::refresh()
{
    m_refresh.stop();
    const QList<StatsRow> &rows = statsRows();
    for (int r = 0; r < rows.size(); ++r) {
        tblLoopStats->item(r, 0)->setText(rows[r].value(m_command));
        tblLoopStats->item(r, 1)->setText(rows[r].value(m_query));
    }
}

void LoopStatsWindow::copy()
{
    QApplication::clipboard()->setText(statsText(m_command, m_query));
}

void LoopStatsWindow::saveCsv()
{
    const QString suggested = QDir::current().filePath(
        QStringLiteral("loop-statistics-%1.csv").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString path = m_seams.askSaveFile(this, QStringLiteral("Save Loop Statistics"), suggested,
                                             QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QString why;
    if (!SafeFile::replace(path, statsCsv(m_command, m_query).toUtf8(), &why))
        m_seams.warn(this, QStringLiteral("Save Loop Statistics"), QStringLiteral("Cannot write %1: %2").arg(path, why));
}
