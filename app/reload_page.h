// The "&Reload" page: the firmware image, the Write button, the load parameters, the loader's
// state, and a summary of the configuration applied after an upload. The load itself runs on
// the loader thread (TLoadTask), which reaches the page through Display().
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/reload_display.h"
#include "app/window_shared.h"
#include "loader/firmware_image.h"
#include "loader/load_task.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace vantora {

class TLabeledEdit;
class TRadioGroup;

class ReloadPage : public QWidget {
    Q_OBJECT
public:
    explicit ReloadPage(WindowShared& shared);
    ~ReloadPage() override;

    // What the loader thread shows on the page.
    ReloadDisplay& Display() { return *display_; }
    // Once the loader thread exists: the check boxes as the settings are.
    void ShowSettings();

    // The firmware file dialog, replaceable so that nothing waits for a modal dialog (tests):
    // the chosen path, or an empty string for a cancel.
    std::function<QString()> ChooseFirmwareFile;
    // Called after each loader state the page has shown (tests and diagnostics).
    std::function<void(int state)> LoaderStateShown;
    // The loader state last shown in lbState; decides what Write does.
    int ShownLoaderState() const { return shownLoaderState_; }
    // The image of the next load: the last file read successfully; null before the first.
    std::shared_ptr<const FirmwareImage> Firmware() const { return firmware_; }
    // After every page change of the window.
    void PageChanged(int page);

    // The configuration summary (the Config page and the settings write it).
    void ShowDgps(const QString& text);
    void ShowConfigBaud(const QString& text);
    void ShowDeadReckoning(bool shown);
    void ShowDeadReckoningText(const QString& text);
    void ShowNmea(const QString& text);
    void ShowReconfigure();
    void ShowPort();

private:
    // Main thread, after every state change of the loader: page lock, Write button, lbState.
    void ShowLoaderState(int state);
    bool ReadFirmwareFile(const std::string& path);
    void ShowFirmwareFile(const std::string& path);
    QString RunFirmwareDialog();
    void BrowseFirmware();
    // The load's parameters from the page now; nullopt with the reason for a field that is no number.
    std::optional<LoadJob> TakeLoadJob(std::string& error);
    void WriteFirmware();
    // Write's restart steps did not finish: the page as before, with the reason when there is one.
    void RestartFailed(const std::string& why);
    bool Locked() const;
    void UpdateLock();
    // Cancel (or Esc) while the page is locked: the restart steps stop, a running load is
    // interrupted as disarming does, and its result is shown.
    void CancelLoad();
    void ToggleAutoLoad();
    void ChooseTarget(int index);

    WindowShared& shared_;
    QLabel* lbState_;
    QPushButton* sbGo_;
    QPushButton* btCancel_;  // in the status bar: the page control is locked during a load
    QProgressBar* brProgress_;
    QLabel* lbReconfig_;
    QLabel* lbPort_;
    QLabel* lbFile_;
    TLabeledEdit* edCRC_;
    QCheckBox* cxAutoStart_;
    QCheckBox* cbFactoryDefault_;
    QLabel* lbResult_;
    QLabel* lbDGPS_;
    QLabel* lbShowDR_;
    QLabel* lbSetBaud_;
    QLabel* lbNMEA_;
    TRadioGroup* rgType_;
    QLineEdit* edFilePath_;
    TLabeledEdit* leLoadAddr_;
    TLabeledEdit* leLoadSize_;
    QLabel* lbTransfer_;
    std::unique_ptr<ReloadDisplay> display_;

    std::shared_ptr<const FirmwareImage> firmware_;
    std::string browseDir_;  // folder of the last file read: where the dialog opens
    int shownLoaderState_ = 0;
    bool restarting_ = false;   // Write's restart steps are under way
    bool cancelled_ = false;    // Cancel pressed during them
    bool jobAutoLoad_ = false;  // Auto Load as the last load's parameters were taken
    bool shown_ = false;
};

}  // namespace vantora
