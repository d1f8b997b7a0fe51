#include "app/setup_page.h"

#include <QHeaderView>
#include <QPainter>
#include <QStandardItemModel>
#include <QTreeView>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "app/layout_util.h"
#include "loader/load_task.h"
#include "serial/port_list.h"

namespace vantora {

using namespace layout;

namespace {

// The product picture: a globe with an orbit and the product name.
QPixmap ProductPicture(int width, int height) {
    QPixmap pix(width, height);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF globe(3, 3, height - 6, height - 6);
    p.setPen(QPen(QColor(0x10, 0x30, 0x80), 1.2));
    p.setBrush(QColor(0x40, 0x80, 0xD0));
    p.drawEllipse(globe);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xE0, 0xF0, 0xFF), 0.8));
    p.drawEllipse(globe.adjusted(globe.width() * 0.3, 0, -globe.width() * 0.3, 0));
    p.drawLine(QPointF(globe.left(), globe.center().y()), QPointF(globe.right(), globe.center().y()));
    p.setPen(QPen(QColor(0xFF, 0xB0, 0x20), 1.4));
    p.drawEllipse(globe.adjusted(-2, globe.height() * 0.35, 2, -globe.height() * 0.35));
    QFont f("Arial");
    f.setPixelSize(16);
    f.setBold(true);
    f.setItalic(true);
    p.setFont(f);
    p.setPen(QColor(0x00, 0x00, 0x80));
    p.drawText(QRectF(height + 4, 0, width - height - 4, height), Qt::AlignVCenter | Qt::AlignLeft,
               "Vantora GPS Viewer");
    return pix;
}

// The band at the bottom of the page: the picture and three lines about the product.
QWidget* ProductBand(QWidget* page) {
    auto* band = new QFrame(page);
    band->setObjectName("Panel2");
    band->setFixedHeight(78);
    band->setFrameShape(QFrame::NoFrame);
    auto* column = new QVBoxLayout(band);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* image = new QLabel(band);
    image->setObjectName("Image1");
    image->setFixedHeight(33);
    image->setContentsMargins(4, 0, 0, 0);
    image->setPixmap(ProductPicture(220, 33));
    auto* memo = new QPlainTextEdit(band);
    memo->setObjectName("Memo1");
    memo->setFixedHeight(45);
    memo->setFrameShape(QFrame::NoFrame);
    memo->setReadOnly(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setTextInteractionFlags(Qt::NoTextInteraction);
    QPalette pal = memo->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    pal.setColor(QPalette::Text, QColor(0x00, 0x00, 0x80));
    memo->setPalette(pal);
    memo->document()->setDocumentMargin(1);
    memo->setPlainText("Vantora 1.8b\nThe Vantora project team, 2024\nhttps://vantora.example/");
    column->addWidget(image);
    column->addWidget(memo);
    return band;
}

}  // namespace

SetupPage::SetupPage(WindowShared& shared) : shared_(shared) {
    setObjectName("tsSetup");
    QStringList ports;
    for (int i = 1; i <= PortCount; ++i) ports << QString("COM%1").arg(i);
    cbPort_ = DropDown(this, "cbPort", ports, 0, 110);
    // The box shows "COM1"; its list shows beside each port the device, the adapter behind it, or
    // that nothing is there now.
    auto* portModel = new QStandardItemModel(PortCount, 2, cbPort_);
    for (int i = 0; i < PortCount; ++i) portModel->setItem(i, 0, new QStandardItem(ports[i]));
    cbPort_->setModel(portModel);
    auto* portList = new QTreeView(cbPort_);
    portList->setHeaderHidden(true);
    portList->setRootIsDecorated(false);
    portList->setMinimumWidth(440);
    cbPort_->setView(portList);
    // Adapters come and go while the page is shown: the list follows them.
    portWatch_.setInterval(2000);
    connect(&portWatch_, &QTimer::timeout, this, &SetupPage::ShowPorts);
    cbFWbaud_ = DropDown(this, "cbFWbaud", WorkingRates, 0, 110);

    // Loader options kept on the page but never offered.
    cxReconfig_ = Check(this, "cxReconfig", "&Reconfigure", false);
    cxRevChk_ = Check(this, "cxRevChk", "&Revision Check", false);
    edRevsion_ = new QLineEdit("Rev10000000", this);
    edRevsion_->setObjectName("edRevsion");
    auto* leadTime = new TLabeledEdit(this, "leLeadTime", "Lead Time", "8");
    QCheckBox* extendView = Check(this, "cbExtendView", "Extended VIEWER", false);

    auto* grid = Nested(new QGridLayout());
    grid->setContentsMargins(16, 17, 8, 0);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(11);
    grid->addWidget(Label(this, "Label6", "Com Port"), 0, 0);
    grid->addWidget(cbPort_, 0, 1, Qt::AlignLeft);
    grid->addWidget(Label(this, "Label7", "Baud Rate"), 1, 0);
    grid->addWidget(cbFWbaud_, 1, 1, Qt::AlignLeft);
    grid->addWidget(cxReconfig_, 2, 0, 1, 2);
    grid->addWidget(cxRevChk_, 3, 0);
    grid->addWidget(edRevsion_, 3, 1);
    grid->addWidget(leadTime->Label(), 4, 0);
    grid->addWidget(leadTime, 4, 1);
    grid->addWidget(extendView, 5, 0, 1, 2);
    grid->setColumnMinimumWidth(0, 70);
    grid->setColumnStretch(2, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{cxReconfig_, cxRevChk_, edRevsion_, leadTime}) {
        w->setEnabled(false);
        w->setVisible(false);
    }
    extendView->setVisible(false);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->addLayout(grid);
    page->addStretch(1);
    page->addWidget(ProductBand(this));

    connect(cbPort_, &QComboBox::currentIndexChanged, this, &SetupPage::ChoosePort);
    connect(cbFWbaud_, &QComboBox::currentIndexChanged, this, &SetupPage::ChooseLinkRate);
    connect(cxReconfig_, &QCheckBox::clicked, this, &SetupPage::ToggleReconfigure);
    connect(cxRevChk_, &QCheckBox::clicked, this, &SetupPage::ToggleRevisionCheck);
    connect(edRevsion_, &QLineEdit::textChanged, this, &SetupPage::RevisionEdited);
}

void SetupPage::ShowPorts() {
    for (int i = 0; i < PortCount && i < cbPort_->count(); ++i) {
        const PortListing port =
            DescribePort("COM" + std::to_string(i + 1), shared_.State.PortDevices[static_cast<size_t>(i)]);
        const QString device = QString::fromStdString(PortDeviceText(port));
        auto* model = static_cast<QStandardItemModel*>(cbPort_->model());
        if (!model->item(i, 1) || model->item(i, 1)->text() != device) model->setItem(i, 1, new QStandardItem(device));
    }
}

void SetupPage::showEvent(QShowEvent* event) {
    ShowPorts();
    portWatch_.start();
    QWidget::showEvent(event);
}

void SetupPage::hideEvent(QHideEvent* event) {
    portWatch_.stop();
    QWidget::hideEvent(event);
}

void SetupPage::ShowSettings() {
    ShowPorts();
    cbPort_->setCurrentIndex(shared_.State.PortIndex);
    cxReconfig_->setChecked(shared_.State.Reconfigure);
}

void SetupPage::ShowLinkRate(int index) {
    cbFWbaud_->setCurrentIndex(index);
}

void SetupPage::ChoosePort(int index) {
    if (index >= 0) shared_.State.PortIndex = index;
}

void SetupPage::ChooseLinkRate(int index) {
    if (index >= 0) shared_.State.LinkBaudIndex = index;
}

void SetupPage::ToggleReconfigure() {
    shared_.State.Reconfigure = cxReconfig_->isChecked();
    shared_.LoadTask->SetReconfigure(shared_.State.Reconfigure);
    emit ReconfigureChanged();
}

void SetupPage::ToggleRevisionCheck() {
    shared_.State.RevisionCheck = cxRevChk_->isChecked();
    shared_.LoaderRevisionCheck = shared_.State.RevisionCheck;
}

void SetupPage::RevisionEdited() {
    // The edit's own text is not the revision the loader gets.
    shared_.LoaderRevisionCheck = shared_.State.RevisionCheck;
}

}  // namespace vantora
