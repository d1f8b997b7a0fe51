// The "&Config" page (its tab is never shown): the receiver configuration kept in the settings
// and applied after an upload. Its choices are mirrored on the Reload page.
#pragma once

#include <QWidget>

#include "app/window_shared.h"

class QCheckBox;
class QComboBox;
class QListWidget;

namespace vantora {

class ReloadPage;
class TRadioGroup;

class ConfigPage : public QWidget {
    Q_OBJECT
public:
    ConfigPage(WindowShared& shared, ReloadPage& summary);
    // The controls and the Reload page's summary as the settings are now.
    void ShowSettings();

private:
    void ChooseConfigBaud(int index);
    void ChooseDgps(int index);
    void ToggleDeadReckoning();
    void TickSentences();
    void ToggleProprietaryNmea();
    void ShowNmeaSummary();

    WindowShared& shared_;
    ReloadPage& summary_;
    QComboBox* cbSetBaud_;
    QListWidget* clNMEA_;
    QCheckBox* cxPnmea_;
    QCheckBox* cxChkSum_;
    QCheckBox* cxDR_;
    TRadioGroup* rgDGPS_;
};

}  // namespace vantora
