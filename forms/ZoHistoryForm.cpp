#include "ZoHistoryForm.h"
#include "ui_ZoHistoryForm.h"

#include "ZoDeviceKey.h"
#include "ZoFormBackground.h"
#include "ZoLaneTimeline.h"
#include "ZoUtils.h"

#include <QEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QMap>
#include <QTableWidgetItem>

#include <algorithm>

namespace {

using Row = ZoFlashHistory::Row;

enum Column { ColTime, ColDevice, ColVersions, ColFile, ColTransfer, ColResult };
// A long device name wraps rather than narrowing the result.
constexpr int DeviceColumnMax = 150;

// The recorder's words for a result or a failure class, and the dictionary
// keys that say them to the user. A text not listed shows as recorded.
struct Wording
{
    const char *recorded;
    const char *key;
};
const Wording Results[] = {
    {"upgraded", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitResultUpgraded")},
    {"not confirmed", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitResultNotConfirmed")},
    {"failed", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitResultFailed")},
    {"interrupted", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitResultInterrupted")},
    {"up to date", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitResultUpToDate")},
    {"skipped", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitResultSkipped")},
};
const Wording Failures[] = {
    {"refused file", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitFailureRefusedFile")},
    {"no target", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitFailureNoTarget")},
    {"journal unwritable", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitFailureJournal")},
    {"core unidentified", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitFailureUnidentified")},
    {"send failed", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitFailureSendFailed")},
    {"link lost", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitFailureLinkLost")},
    {"wrong version", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitFailureWrongVersion")},
    {"silent", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitFailureSilent")},
    {"other aircraft", QT_TRANSLATE_NOOP("ZoHistoryForm", "LitFailureOtherAircraft")},
};
// "block time-out at block 12": the block is the recorder's, the words ours.
const QString BlockTimeout = QStringLiteral("block time-out at block ");

QString worded(const QString &recorded, const Wording *begin, const Wording *end)
{
    const auto it = std::find_if(
        begin, end, [&](const Wording &w) { return recorded == QLatin1String(w.recorded); });
    return it == end ? recorded : ZoHistoryForm::tr(it->key);
}

// The dictionary's text with its places filled in one pass; without a
// dictionary its key shows, and what would fill it follows.
template <typename... Texts> QString filled(const QString &text, const Texts &...values)
{
    if (text.contains(QLatin1String("%1")))
        return text.arg(values...);
    return QStringList {text, values...}.join(QLatin1Char(' '));
}

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("–") : text;
}

QTableWidgetItem *cell(const QString &text, Qt::Alignment align = Qt::AlignLeft)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(int(align | Qt::AlignVCenter));
    return item;
}

} // namespace

ZoHistoryForm::ZoHistoryForm(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ZoHistoryForm)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    ui->splitter->setStretchFactor(0, 2);
    ui->splitter->setStretchFactor(1, 3);
    ui->table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(
        ui->table, &QTableWidget::itemSelectionChanged, this, &ZoHistoryForm::sigSelectionChanged);
    // Wrapped cells need their height again once the result column has its
    // width (the form laid out, or resized), after the scroll bars settled.
    connect(
        ui->table->horizontalHeader(), &QHeaderView::sectionResized, this,
        [this](int column) {
            if (column == ColResult)
                ui->table->resizeRowsToContents();
        },
        Qt::QueuedConnection);
    fill();
}

ZoHistoryForm::~ZoHistoryForm()
{
    delete ui;
}

bool ZoHistoryForm::showAircraft(const QString &path, const QString &eid)
{
    QList<Row> rows;
    QString why;
    // Opening would create the file: no file is a history with nothing yet.
    if (QFileInfo::exists(path)) {
        ZoFlashHistory history(path);
        if (history.openReadOnly(&why)) {
            ZoFlashHistory::Filter filter;
            filter.eid = eid;
            rows = history.rows(filter);
        } else if (why.isEmpty()) {
            why = path;
        }
    }
    setRows(eid, rows);
    if (!why.isEmpty()) {
        m_unreadable = why;
        fill();
    }
    return why.isEmpty();
}

void ZoHistoryForm::setRows(const QString &eid, const QList<Row> &rows)
{
    // Read again after a run, the same aircraft's rows keep the one the user
    // was looking at selected, wherever the new rows put it.
    const Row *selected = selectedRow();
    const qint64 keep = selected && eid == m_eid ? selected->id : 0;
    m_eid = eid;
    m_unreadable.clear();
    m_rows = rows;
    std::stable_sort(m_rows.begin(), m_rows.end(), [](const Row &a, const Row &b) {
        return a.time != b.time ? a.time > b.time : a.id > b.id;
    });
    fill();
    const auto at = std::find_if(
        m_rows.cbegin(), m_rows.cend(), [keep](const Row &r) { return keep && r.id == keep; });
    if (at != m_rows.cend())
        ui->table->selectRow(int(at - m_rows.cbegin()));
    else
        ui->table->clearSelection();
}

const ZoFlashHistory::Row *ZoHistoryForm::selectedRow() const
{
    const QList<QTableWidgetItem *> chosen = ui->table->selectedItems();
    if (chosen.isEmpty())
        return nullptr;
    const int index = chosen.first()->row();
    return index >= 0 && index < m_rows.size() ? &m_rows.at(index) : nullptr;
}

ZoLaneTimeline *ZoHistoryForm::timeline() const
{
    return ui->timeline;
}

QHBoxLayout *ZoHistoryForm::buttonRow() const
{
    return ui->hLayoutButtons;
}

QColor ZoHistoryForm::resultColour(const QString &result)
{
    static const QMap<QString, QColor> colours {
        {QStringLiteral("upgraded"), QColor(0x3C, 0xB3, 0x71)},
        {QStringLiteral("up to date"), QColor(0x5B, 0x9B, 0xD5)},
        {QStringLiteral("not confirmed"), QColor(0xE6, 0xA2, 0x3C)},
        {QStringLiteral("interrupted"), QColor(0xB0, 0x7C, 0xD8)},
        {QStringLiteral("failed"), QColor(0xE0, 0x52, 0x52)},
    };
    return colours.value(result, QColor(0x8A, 0x8F, 0x98));
}

QString ZoHistoryForm::deviceName(const Row &row) const
{
    int airframe = ZoUtils::AirframeNone;
    const QString name = ZoUtils::deviceName(tdu1(row.type), airframe);
    // As the module list names twins: the node first.
    return row.number == 0 ? name : QStringLiteral("#%1 %2").arg(row.number).arg(name);
}

QString ZoHistoryForm::sourceText(const QString &source) const
{
    if (source == QLatin1String("stable"))
        return tr("LitSourceStable");
    if (source == QLatin1String("development"))
        return tr("LitSourceDevelopment");
    if (source == QLatin1String("folder"))
        return tr("LitSourceFolder");
    if (source.startsWith(QLatin1String("custom:")))
        return filled(tr("LitSourceCustom"), source.mid(7));
    return source;
}

QString ZoHistoryForm::resultText(const Row &row) const
{
    const QString result = worded(row.result, std::begin(Results), std::end(Results));
    if (row.failure.isEmpty())
        return result;
    const QString failure = row.failure.startsWith(BlockTimeout)
        ? filled(tr("LitFailureBlockTimeout"), row.failure.mid(BlockTimeout.size()))
        : worded(row.failure, std::begin(Failures), std::end(Failures));
    return result + QLatin1Char('\n') + failure;
}

void ZoHistoryForm::fill()
{
    ui->labelAircraft->setText(
        m_eid.isEmpty() ? QString() : filled(tr("LabHistoryAircraft"), m_eid));
    if (!m_unreadable.isEmpty())
        ui->labelNote->setText(filled(tr("MsgHistoryUnreadable"), m_unreadable));
    else if (m_rows.isEmpty())
        ui->labelNote->setText(tr("MsgHistoryNoFlashes"));
    ui->labelNote->setVisible(!m_unreadable.isEmpty() || m_rows.isEmpty());

    QTableWidget *table = ui->table;
    table->clearContents();
    table->setRowCount(int(m_rows.size()));
    QMap<ZoDeviceKey, ZoLaneTimeline::Lane> lanes;
    for (int i = 0; i < m_rows.size(); ++i) {
        const Row &r = m_rows.at(i);
        const QString device = deviceName(r);
        const QString versions
            = QStringLiteral("%1 → %2").arg(orDash(r.before), orDash(r.confirmed));
        const QColor colour = resultColour(r.result);
        // Two lines a row, so that the columns fit the window's width.
        table->setItem(
            i, ColTime, cell(r.time.toUTC().toString(QStringLiteral("yyyy-MM-dd\nHH:mm:ss"))));
        table->setItem(i, ColDevice, cell(device));
        table->setItem(i, ColVersions, cell(versions));
        table->setItem(
            i, ColFile, cell(r.sha256.left(8) + QLatin1Char('\n') + sourceText(r.source)));
        table->setItem(i, ColTransfer,
            cell(filled(tr("LitSeconds"), QString::number(r.seconds, 'f', 1)) + QLatin1Char('\n')
                + filled(tr("LitResends"), QString::number(r.resends))));
        QTableWidgetItem *result = cell(resultText(r));
        result->setForeground(colour);
        table->setItem(i, ColResult, result);
        // What the columns leave out, for whoever looks closer.
        const QString more = filled(tr("LabHistoryDetails"), orDash(r.serial), orDash(r.target),
            orDash(r.sha256), QString::number(r.size), r.link, r.host, r.user, r.tool);
        for (int c = ColTime; c <= ColResult; ++c)
            table->item(i, c)->setToolTip(more);

        ZoLaneTimeline::Lane &lane = lanes[ZoDeviceKey(tdu1(r.type), tdu1(r.number))];
        lane.name = device;
        // What the device ran afterwards when it said so, else what it was given.
        lane.points.append({r.time, r.confirmed.isEmpty() ? r.target : r.confirmed, colour});
    }
    for (int c = ColTime; c < ColResult; ++c)
        table->resizeColumnToContents(c);
    table->setColumnWidth(ColDevice, std::min(table->columnWidth(ColDevice), DeviceColumnMax));
    table->resizeRowsToContents();
    ui->timeline->setLanes(lanes.values());
    ui->timeline->setVisible(!lanes.isEmpty());
}

void ZoHistoryForm::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        fill();
    }
    QWidget::changeEvent(event);
}

void ZoHistoryForm::on_btnClose_clicked()
{
    hide();
}

void ZoHistoryForm::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    ZoFormBackground::paint(this, QPixmap());
}
