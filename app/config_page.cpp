#include "app/config_page.h"

#include <QGroupBox>
#include <QListWidget>
#include <QVBoxLayout>

#include "app/layout_util.h"
#include "app/reload_page.h"
#include "protocol/commands.h"

namespace vantora {

using namespace layout;

namespace {

QString WithoutMnemonic(QString text) {
    // "&NONE" is shown as "NONE"; "&&" stands for one ampersand.
    text.replace("&&", QString(QChar(0xFFFF)));
    text.remove('&');
    text.replace(QChar(0xFFFF), '&');
    return text;
}

}  // namespace

ConfigPage::ConfigPage(WindowShared& shared, ReloadPage& summary) : shared_(shared), summary_(summary) {
    setObjectName("tsConfig");
    cbSetBaud_ = DropDown(this, "cbSetBaud", WorkingRates, 0, 90);

    auto* nmea = new QGroupBox("NMEA", this);
    nmea->setObjectName("GroupBox3");
    clNMEA_ = new QListWidget(nmea);
    clNMEA_->setObjectName("clNMEA");
    clNMEA_->setFixedSize(70, 108);
    const char* sentences[6] = {"GGA", "GSV", "GSA", "RMC", "VTG", "RLL"};
    for (int i = 0; i < 6; ++i) {
        auto* item = new QListWidgetItem(sentences[i], clNMEA_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(i < 4 ? Qt::Checked : Qt::Unchecked);
    }
    auto* intervals = Nested(new QVBoxLayout());
    intervals->setSpacing(1);
    intervals->addWidget(Label(nmea, "Label9", "Interval"));
    for (int i = 0; i < 6; ++i) {
        auto* interval = new QLineEdit("1", nmea);
        interval->setObjectName(QString("edInterval%1").arg(i + 1));
        interval->setFixedSize(34, 17);
        intervals->addWidget(interval);
    }
    cxPnmea_ = Check(nmea, "cxPnmea", "pNMEA", true);
    cxChkSum_ = Check(nmea, "cxChkSum", "Check Sum", true);
    auto* checks = Nested(new QVBoxLayout());
    checks->addWidget(cxPnmea_);
    checks->addWidget(cxChkSum_);
    checks->addStretch(1);
    auto* group = new QHBoxLayout(nmea);
    group->addWidget(clNMEA_, 0, Qt::AlignBottom);
    group->addLayout(intervals);
    group->addLayout(checks);

    cxDR_ = Check(this, "cxDR", "Dead-Reckoning", true);
    rgDGPS_ = new TRadioGroup(this, "rgDGPS", "DGPS", {"&NONE", "&RTCM", "&WAAS"}, 0, 3);

    auto* baud = Nested(new QHBoxLayout());
    baud->addWidget(Label(this, "Label8", "Baud"));
    baud->addWidget(cbSetBaud_);
    baud->addStretch(1);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(8, 5, 8, 8);
    page->addLayout(baud);
    page->addWidget(nmea);
    page->addWidget(cxDR_);
    page->addWidget(rgDGPS_);
    page->addStretch(1);

    connect(cbSetBaud_, &QComboBox::currentIndexChanged, this, &ConfigPage::ChooseConfigBaud);
    connect(rgDGPS_, &TRadioGroup::Clicked, this, &ConfigPage::ChooseDgps);
    connect(cxDR_, &QCheckBox::clicked, this, &ConfigPage::ToggleDeadReckoning);
    connect(clNMEA_, &QListWidget::itemChanged, this, &ConfigPage::TickSentences);
    connect(cxPnmea_, &QCheckBox::clicked, this, &ConfigPage::ToggleProprietaryNmea);
}

void ConfigPage::ShowSettings() {
    const Settings& s = shared_.State;
    summary_.ShowDgps(QString::fromLatin1(DgpsNames[s.DgpsMode]));
    rgDGPS_->SetItemIndex(s.DgpsMode);
    summary_.ShowConfigBaud(QString::number(s.ConfigBaud));
    // The box lists the four working rates only: 115200 selects nothing.
    {
        const QSignalBlocker quiet(cbSetBaud_);
        cbSetBaud_->setCurrentIndex(s.ConfigBaudIndex < cbSetBaud_->count() ? s.ConfigBaudIndex : -1);
    }
    cxDR_->setChecked(s.DeadReckoning != 0);
    summary_.ShowDeadReckoning(s.DeadReckoning != 0);
    ShowNmeaSummary();
    cxPnmea_->setChecked(s.ProprietaryNmea != 0);
    cxChkSum_->setChecked((s.Nmea[CfgChecksum] & 0xFF) != 0);
}

void ConfigPage::ChooseConfigBaud(int index) {
    if (index >= 0) summary_.ShowConfigBaud(cbSetBaud_->itemText(index));
}

void ConfigPage::ChooseDgps(int index) {
    const QStringList items = rgDGPS_->Items();
    if (index >= 0 && index < items.size()) summary_.ShowDgps(WithoutMnemonic(items[index]));
}

void ConfigPage::ToggleDeadReckoning() {
    shared_.State.DeadReckoning = cxDR_->isChecked() ? 1 : 0;
    summary_.ShowDeadReckoningText(cxDR_->isChecked() ? "Dead-Reckoning" : "");
}

void ConfigPage::TickSentences() {
    auto ticked = [this](int i) { return clNMEA_->item(i)->checkState() == Qt::Checked ? 1 : 0; };
    NmeaConfig& n = shared_.State.Nmea;
    n[CfgGga] = ticked(0);
    n[CfgGll] = ticked(1);
    n[CfgRmc] = ticked(2);
    n[CfgGsv] = ticked(3);
    n[CfgGsa] = ticked(4);
    n[CfgVtg] = ticked(5);
    n[CfgZda] = ticked(5);
    ShowNmeaSummary();
}

void ConfigPage::ToggleProprietaryNmea() {
    const int on = cxPnmea_->isChecked() ? 1 : 0;
    shared_.State.ProprietaryNmea = on;
    shared_.State.Nmea[CfgChecksum] = on;
    ShowNmeaSummary();
}

void ConfigPage::ShowNmeaSummary() {
    summary_.ShowNmea(QString::fromStdString(NmeaCaption(shared_.State.Nmea, shared_.State.ProprietaryNmea)));
}

}  // namespace vantora
