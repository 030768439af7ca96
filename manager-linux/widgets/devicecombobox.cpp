#include "devicecombobox.h"

#include <QLineEdit>
#include <QMouseEvent>

#include "deviceicon.h"
#include "nettlebeamdevice.h"

namespace {

QString deviceItemText(const NettlebeamDevice& device) {
    return device.mac + QStringLiteral(" - ") + device.friendlyName;
}

}  // namespace

DeviceComboBox::DeviceComboBox(QWidget* parent) : QComboBox(parent) {
    // FriendlyNameChanged may be queued or spied on before the window has
    // registered the device pointer type.
    qRegisterMetaType<NettlebeamDevice*>();
    setInsertPolicy(QComboBox::NoInsert);
    // As wide as its longest "MAC - name" in the font it is drawn with.
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
}

void DeviceComboBox::addDevice(NettlebeamDevice* device) {
    if (!device) return;
    addItem(deviceIcon(device->type), deviceItemText(*device), QVariant::fromValue(device));
}

NettlebeamDevice* DeviceComboBox::currentDevice() const {
    return currentData().value<NettlebeamDevice*>();
}

void DeviceComboBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        if (NettlebeamDevice* device = currentDevice()) beginRename(device);
        event->accept();
        return;
    }
    if (editing_) {
        event->accept();
        return;
    }
    QComboBox::mousePressEvent(event);
}

void DeviceComboBox::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void DeviceComboBox::beginRename(NettlebeamDevice* device) {
    editing_ = true;
    setEditable(true);
    // The item texts start with MAC addresses; inline completion against them
    // would turn a typed name into another item's text.
    setCompleter(nullptr);
    setContextMenuPolicy(Qt::NoContextMenu);
    QLineEdit* edit = lineEdit();
    edit->setContextMenuPolicy(Qt::NoContextMenu);
    edit->setText(device->friendlyName);
    connect(edit, &QLineEdit::editingFinished, this, &DeviceComboBox::edited, Qt::UniqueConnection);
}

void DeviceComboBox::edited() {
    // Enter and the focus loss that follows both finish the edit; the second
    // must not rename again.
    if (!editing_) return;
    NettlebeamDevice* device = currentDevice();
    if (!device) {
        endRename();
        return;
    }
    device->friendlyName = lineEdit()->text();
    const int index = currentIndex();
    setItemData(index, QVariant::fromValue(device));
    setItemText(index, deviceItemText(*device));
    endRename();
    emit FriendlyNameChanged(device);
}

void DeviceComboBox::endRename() {
    if (QLineEdit* edit = lineEdit())
        disconnect(edit, &QLineEdit::editingFinished, this, &DeviceComboBox::edited);
    setEditable(false);
    editing_ = false;
}
