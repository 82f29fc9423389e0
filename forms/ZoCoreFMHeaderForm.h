#pragma once

#include "ZoTypes.h"

#include <QWidget>

namespace Ui {
class ZoCoreFMHeaderForm;
}

// Heading of the core section of the device list: the core's name, the
// airframe protocol it runs (which the user may change to fetch another
// family member's firmware) and, for the Arno2 family, its board type.
class ZoCoreFMHeaderForm : public QWidget
{
    Q_OBJECT

public:
    explicit ZoCoreFMHeaderForm(QWidget *parent = nullptr);
    ~ZoCoreFMHeaderForm() override;

    // Protocol type of the stored index: 1, 2, 3 or 258.
    tds4 protocolType() const;
    tVersion version() const { return m_version; }

    void setCore(const QString &name, const tVersion &version);
    // Puts the protocol box back to what a core of type t runs, for instance
    // after the user's change was refused.
    void resetProtType(tdu1 t);
    void setBrisk2Type(tdu1 coreType, tdu1 type);
    // Enables or disables both boxes; the header's labels stay as they are.
    void setEnabled(bool enabled);

Q_SIGNALS:
    void sigSelectGNCProtType(tds4 protType);
    void sigSelectBrisk2Type(tdu1 briskType);

private Q_SLOTS:
    void on_cmbProtType_activated(int index);
    void on_cmbBrisk2Type_activated(int index);

private:
    Ui::ZoCoreFMHeaderForm *ui;
    tVersion m_version;
    int m_protIndex = 0;
};
