#pragma once

#include "ZoFlashHistory.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class ZoLaneTimeline;

namespace Ui {
class ZoHistoryForm;
}

// One aircraft's flash history as the engine's recorder wrote it: a table of
// every device flash, newest first (when, which device, from which file, the
// version before and the one the device confirmed, how it ended, how long it
// took, how many blocks went again), and over it each device's versions in
// time, one lane per device and a point per flash in its result's colour.
// It draws the records and decides nothing about them.
//
// Reads the history file itself, read-only, on the thread it lives on (the
// GUI thread); the engine's recorder keeps its own connection to the file.
class ZoHistoryForm : public QWidget
{
    Q_OBJECT

public:
    explicit ZoHistoryForm(QWidget *parent = nullptr);
    ~ZoHistoryForm() override;

    // Reads aircraft `eid`'s rows from the history at `path` and shows them;
    // no file yet is an empty history. False when the file cannot be read:
    // the form then says why and shows no rows.
    bool showAircraft(const QString &path, const QString &eid);
    // Shows `rows`, in any order, as aircraft `eid`'s history.
    void setRows(const QString &eid, const QList<ZoFlashHistory::Row> &rows);

    QString eid() const { return m_eid; }
    // What is shown, newest first: the table's row i is rows().at(i).
    const QList<ZoFlashHistory::Row> &rows() const { return m_rows; }
    // The row the user selected; null while none is.
    const ZoFlashHistory::Row *selectedRow() const;
    ZoLaneTimeline *timeline() const;
    // The buttons under the table, Close at the right end. An action on the
    // selected row goes in front of it: buttonRow()->insertWidget(1, button).
    QHBoxLayout *buttonRow() const;

    // How a recorded result is drawn, in the table and on the timeline.
    static QColor resultColour(const QString &result);

Q_SIGNALS:
    // selectedRow() changed.
    void sigSelectionChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private Q_SLOTS:
    void on_btnClose_clicked();

private:
    void fill();
    QString deviceName(const ZoFlashHistory::Row &row) const;
    QString sourceText(const QString &source) const;
    QString resultText(const ZoFlashHistory::Row &row) const;

    Ui::ZoHistoryForm *ui;
    QString m_eid;
    QList<ZoFlashHistory::Row> m_rows;
    QString m_unreadable; // why the file could not be read; empty: it could
};
