// The device selector: one item per attached device, "MAC - friendly name"
// with the device type's icon, carrying a non-owning NettlebeamDevice* as item
// data. A right click renames the current device in place; Enter (or leaving
// the edit) stores the name and emits FriendlyNameChanged. It is as wide as
// its longest item.
#pragma once

#include <QComboBox>

struct NettlebeamDevice;

class DeviceComboBox : public QComboBox {
    Q_OBJECT

  public:
    explicit DeviceComboBox(QWidget* parent = nullptr);

    // Appends an item for `device`, which must outlive its item.
    void addDevice(NettlebeamDevice* device);
    // The device of the current item, or null (placeholder item, empty box).
    NettlebeamDevice* currentDevice() const;
    bool isRenaming() const { return editing_; }

  signals:
    void FriendlyNameChanged(NettlebeamDevice* device);

  public slots:
    // Ends an in-place rename. Without a current device (it left during the
    // rename) nothing is stored or emitted; the box only leaves editing.
    void edited();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    // Ignored, so that the release of a right click cannot open the list.
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void beginRename(NettlebeamDevice* device);
    void endRename();

    bool editing_ = false;
};
