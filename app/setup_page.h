// The "&Setup" page: the port and the working rate, the loader options it keeps hidden, and
// the product band.
#pragma once

#include <QTimer>
#include <QWidget>

#include "app/window_shared.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace vantora {

class TLabeledEdit;

class SetupPage : public QWidget {
    Q_OBJECT
public:
    explicit SetupPage(WindowShared& shared);
    // The controls as the settings are now.
    void ShowSettings();
    // The scan found the receiver at this working rate.
    void ShowLinkRate(int index);
    // Each port's line: its device, the adapter behind it, or that nothing is there now.
    void ShowPorts();

signals:
    // The user changed the loader options of the page (the Reload page shows them).
    void ReconfigureChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void ChoosePort(int index);
    void ChooseLinkRate(int index);
    void ToggleReconfigure();
    void ToggleRevisionCheck();
    void RevisionEdited();

    WindowShared& shared_;
    QComboBox* cbPort_;
    QComboBox* cbFWbaud_;
    QCheckBox* cxReconfig_;
    QCheckBox* cxRevChk_;
    QLineEdit* edRevsion_;
    QTimer portWatch_;
};

}  // namespace vantora
