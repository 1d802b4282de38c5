#include "UploadDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Upload.h"

namespace mirtolan {
namespace {

const QString AutomaticPort = QStringLiteral("First board port found");

QString Qs(std::string_view s) { return QString::fromLocal8Bit(s.data(), qsizetype(s.size())); }
std::string Ss(const QString& s) { return s.trimmed().toLocal8Bit().toStdString(); }

// The avrdude id of the programmer entry: the item's data, or what was typed.
std::string ProgrammerId(const QComboBox* box)
{
    const int i = box->findText(box->currentText());
    if (i >= 0 && box->itemData(i).isValid())
        return Ss(box->itemData(i).toString());
    return Ss(box->currentText());
}

} // namespace

UploadDialog::UploadDialog(QWidget* parent, const QString& devDir)
    : QDialog(parent), devDir_(devDir), programmer_(new QComboBox), port_(new QComboBox), baud_(new QComboBox),
      portNote_(new QLabel)
{
    setWindowTitle(tr("Upload settings"));
    programmer_->setEditable(true);
    for (const Programmer& p : Programmers())
        programmer_->addItem(Qs(p.id) + " - " + Qs(p.title), Qs(p.id));
    port_->setEditable(true);
    baud_->setEditable(true);
    baud_->addItem(tr("Programmer's default"), 0u);
    for (unsigned s : SerialSpeeds)
        baud_->addItem(QString::number(s), s);
    portNote_->setWordWrap(true);

    auto* form = new QFormLayout;
    form->addRow(tr("&Programmer:"), programmer_);
    form->addRow(tr("P&ort:"), port_);
    form->addRow(QString(), portNote_);
    form->addRow(tr("&Baud:"), baud_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto* refresh = buttons->addButton(tr("&Refresh ports"), QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(refresh, &QPushButton::clicked, this, &UploadDialog::refreshPorts);
    connect(programmer_, &QComboBox::currentTextChanged, this, &UploadDialog::programmerChanged);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setSettings(UploadSettings{});
}

void UploadDialog::setSettings(const UploadSettings& s)
{
    const QString id = Qs(s.programmer);
    const int i = programmer_->findData(id);
    if (i >= 0)
        programmer_->setCurrentIndex(i);
    else
        programmer_->setEditText(id);
    refreshPorts();
    port_->setCurrentText(s.port.empty() ? AutomaticPort : Qs(s.port));
    const int b = baud_->findData(s.baud);
    if (b >= 0)
        baud_->setCurrentIndex(b);
    else
        baud_->setEditText(QString::number(s.baud));
    monitorBaud_ = s.monitorBaud;
    programmerChanged();
}

UploadSettings UploadDialog::settings() const
{
    UploadSettings s;
    s.programmer = ProgrammerId(programmer_);
    const QString port = port_->currentText().trimmed();
    // A USB programmer is found without a port.
    const Programmer* p = FindProgrammer(s.programmer);
    s.port = port == AutomaticPort || (p && !p->serialPort) ? std::string() : Ss(port);
    const int b = baud_->findText(baud_->currentText());
    s.baud = b >= 0 ? baud_->itemData(b).toUInt() : baud_->currentText().trimmed().toUInt();
    s.monitorBaud = monitorBaud_;
    return s;
}

void UploadDialog::refreshPorts()
{
    const QString chosen = port_->currentText();
    port_->clear();
    port_->addItem(AutomaticPort);
    for (const std::string& p : BoardPorts(Ss(devDir_)))
        port_->addItem(Qs(p));
    if (!chosen.isEmpty())
        port_->setCurrentText(chosen);
}

void UploadDialog::showEvent(QShowEvent* event)
{
    refreshPorts();
    QDialog::showEvent(event);
}

void UploadDialog::programmerChanged()
{
    const Programmer* p = FindProgrammer(ProgrammerId(programmer_));
    const bool usb = p && !p->serialPort;
    port_->setEnabled(!usb);
    portNote_->setText(usb ? tr("This programmer is found on USB: no port needed.") : QString());
    portNote_->setVisible(usb);
}

} // namespace mirtolan
