// The "Filters" page's buttons and enable boxes: they collect a record from
// the packet-type panel, the header filter panel or the DPI editor and hand
// it on as a request for the selected device; the device's answers set the
// panels and what is enabled. The window's named slots call in here, and the
// requests leave through this class's signals, which the window forwards to
// the worker.
#pragma once

#include <QObject>
#include <functional>
#include <optional>

#include "statsthreadinfo.h"

namespace Ui {
class MainWindow;
}
class QWidget;

class FilterPage : public QObject {
    Q_OBJECT
  public:
    // A request addressed to the selected device, or nothing when none is selected.
    using RequestSource = std::function<std::optional<StatsThreadInfo>()>;

    // `window` parents the message boxes.
    FilterPage(Ui::MainWindow& ui, QWidget* window, RequestSource request);

    void simpleFilterEnableToggled(bool checked);
    void simpleFilterSetClicked();
    void simpleFilterSaveClicked();
    void dpiFilterEnableToggled(bool checked);
    void dpiFilterSetClicked();
    void dpiFilterSaveClicked();
    // The user edited the DPI pattern.
    void dpiFilterEdited();
    void packetsTypeFilterSetClicked();
    void packetsTypeFilterSaveClicked();

    // The filters the device reported.
    void showSimpleFilter(const NettlebeamApiPacketFilter& filter);
    void showDpiFilter(const NettlebeamApiDpiFilter& filter);
    void showPacketsTypeFilter(const NettlebeamApiPacketsTypeFilter& filter);
    // The selected device refused a set or save; the filter it holds follows
    // as a report of its own.
    void requestRefused(FilterRequest request);

  signals:
    void setSimpleFilter(const StatsThreadInfo& info);
    void saveSimpleFilter(const StatsThreadInfo& info);
    void setDpiFilter(const StatsThreadInfo& info);
    void saveDpiFilter(const StatsThreadInfo& info);
    void setPacketsTypeFilter(const StatsThreadInfo& info);
    void savePacketsTypeFilter(const StatsThreadInfo& info);

  private:
    // Sends the header filter; false when nothing was sent (no device, or
    // invalid input, which the user has been told about). A filter being
    // turned off is sent as the device holds it, disabled, whatever the
    // fields say: turning off must work while a field is being corrected.
    bool applySimpleFilter();
    bool applyDpiFilter();
    void showInvalidInput();

    Ui::MainWindow& ui_;
    QWidget* window_;
    RequestSource request_;
    // What the device holds, as far as the page knows: its last report or
    // the last record sent to it.
    NettlebeamApiPacketFilter deviceHeader_{};
    NettlebeamApiDpiFilter devicePattern_{};
};
