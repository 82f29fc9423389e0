#pragma once

#include <QComboBox>
#include <QStringList>

// The serial port field of the link settings. Its items are the ports' whole
// names, as the settings store them; the stable names are long and differ
// near their end, where an adapter's serial number sits, so two identical
// adapters would look alike cut off at the field's right edge. Closed, the
// field therefore shows the chosen name without the by-id folder and elided
// in its middle; open, its list is as wide as the longest name; every item
// and the field itself carry the whole name as their tip.
//
// A widget: lives on the GUI thread.
class ZoPortComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit ZoPortComboBox(QWidget *parent = nullptr);

    // Replaces the items with `names`, in their order.
    void setPorts(const QStringList &names);
    // What the closed field shows of the current port at its present width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int textWidth() const;
};
