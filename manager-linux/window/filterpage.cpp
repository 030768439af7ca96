#include "filterpage.h"

#include <QMessageBox>
#include <QSignalBlocker>

#include "ui_mainwindow.h"

namespace {

constexpr int kDpiPatternBytes = 16;

void checkQuietly(QCheckBox* box, bool checked) {
    const QSignalBlocker blocker(box);
    box->setChecked(checked);
}

}  // namespace

FilterPage::FilterPage(Ui::MainWindow& ui, QWidget* window, RequestSource request)
    : ui_(ui), window_(window), request_(std::move(request)) {}

void FilterPage::showInvalidInput() {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Nettlebeam Manager"),
                    QStringLiteral("Invalid parameter.\nPlease correct the highlighted values."),
                    QMessageBox::Ok, window_);
    box.exec();
}

bool FilterPage::applySimpleFilter() {
    std::optional<StatsThreadInfo> info = request_();
    if (!info) return false;
    if (!ui_.enableSimpleFiltersCB->isChecked()) {
        info->packetFilter = deviceHeader_;
        info->packetFilter.enabled = 0;
    } else if (ui_.simpleFilterCtrl->fillFilter(&info->packetFilter) != 0) {
        showInvalidInput();
        return false;
    } else {
        info->packetFilter.enabled = 1;
    }
    deviceHeader_ = info->packetFilter;
    emit setSimpleFilter(*info);
    return true;
}

void FilterPage::simpleFilterEnableToggled(bool checked) {
    ui_.simpleFilterCtrl->setEnabled(checked);
    ui_.setSimpleFiltersBT->setEnabled(checked);
    if (applySimpleFilter()) ui_.saveSimpleFiltersBT->setEnabled(true);
}

void FilterPage::simpleFilterSetClicked() {
    if (applySimpleFilter()) ui_.saveSimpleFiltersBT->setEnabled(true);
}

// Saving stores what was just applied; after refused input there is nothing to save.
void FilterPage::simpleFilterSaveClicked() {
    if (!applySimpleFilter()) return;
    emit saveSimpleFilter(*request_());
    ui_.saveSimpleFiltersBT->setEnabled(false);
}

// The enable word follows the editor's enabled state, which the enable box
// and the device's answers both set.
bool FilterPage::applyDpiFilter() {
    std::optional<StatsThreadInfo> info = request_();
    if (!info) return false;
    if (!ui_.filterCtrl->isEnabled()) {
        info->dpiFilter = devicePattern_;
        info->dpiFilter.enabled = 0;
    } else if (ui_.filterCtrl->fillPattern(&info->dpiFilter) != 0) {
        showInvalidInput();
        return false;
    } else {
        info->dpiFilter.enabled = 1;
    }
    devicePattern_ = info->dpiFilter;
    emit setDpiFilter(*info);
    return true;
}

void FilterPage::dpiFilterEnableToggled(bool checked) {
    ui_.filterCtrl->setEnabled(checked);
    ui_.setFiltersButton->setEnabled(checked);
    if (applyDpiFilter()) ui_.saveFiltersButton->setEnabled(true);
}

void FilterPage::dpiFilterSetClicked() {
    if (applyDpiFilter()) ui_.saveFiltersButton->setEnabled(true);
}

void FilterPage::dpiFilterSaveClicked() {
    if (!applyDpiFilter()) return;
    emit saveDpiFilter(*request_());
    ui_.saveFiltersButton->setEnabled(false);
}

void FilterPage::dpiFilterEdited() {
    ui_.setFiltersButton->setEnabled(true);
}

void FilterPage::packetsTypeFilterSetClicked() {
    std::optional<StatsThreadInfo> info = request_();
    if (!info) return;
    ui_.packetTypeFilterCtrl->getFilter(&info->packetsTypeFilter);
    emit setPacketsTypeFilter(*info);
    ui_.savePacketsTypeFilterBT->setEnabled(true);
}

void FilterPage::packetsTypeFilterSaveClicked() {
    std::optional<StatsThreadInfo> info = request_();
    if (!info) return;
    ui_.packetTypeFilterCtrl->getFilter(&info->packetsTypeFilter);
    emit setPacketsTypeFilter(*info);
    emit savePacketsTypeFilter(*info);
    ui_.savePacketsTypeFilterBT->setEnabled(false);
}

void FilterPage::showSimpleFilter(const NettlebeamApiPacketFilter& filter) {
    deviceHeader_ = filter;
    ui_.simpleFilterCtrl->setFilter(filter);
    const bool enabled = filter.enabled == 1;
    checkQuietly(ui_.enableSimpleFiltersCB, enabled);
    ui_.setSimpleFiltersBT->setEnabled(enabled);
    ui_.simpleFilterCtrl->setEnabled(enabled);
}

void FilterPage::showDpiFilter(const NettlebeamApiDpiFilter& filter) {
    devicePattern_ = filter;
    ui_.filterCtrl->setPattern(filter, kDpiPatternBytes);
    const bool enabled = filter.enabled == 1;
    checkQuietly(ui_.enableFiltersCheckBox, enabled);
    ui_.setFiltersButton->setEnabled(enabled);
    ui_.filterCtrl->setEnabled(enabled);
}

void FilterPage::showPacketsTypeFilter(const NettlebeamApiPacketsTypeFilter& filter) {
    ui_.packetTypeFilterCtrl->setFilter(filter);
}

void FilterPage::requestRefused(FilterRequest request) {
    struct Report {
        const char* title;
        bool saving;
        QPushButton* save;
    };
    Report report{};
    switch (request) {
        case FilterRequest::SetHeader:
            report = {"Packet Filter", false, nullptr};
            break;
        case FilterRequest::SaveHeader:
            report = {"Packet Filter", true, ui_.saveSimpleFiltersBT};
            break;
        case FilterRequest::SetPayload:
            report = {"Deep Packet Inspection", false, nullptr};
            break;
        case FilterRequest::SavePayload:
            report = {"Deep Packet Inspection", true, ui_.saveFiltersButton};
            break;
        case FilterRequest::SetPacketTypes:
            report = {"Packet Type Filter", false, nullptr};
            break;
        case FilterRequest::SavePacketTypes:
            report = {"Packet Type Filter", true, ui_.savePacketsTypeFilterBT};
            break;
    }
    // What was to be saved is still unsaved: the user may try again.
    if (report.save != nullptr) report.save->setEnabled(true);
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(report.title),
                    report.saving
                        ? QStringLiteral("The filter could not be saved on the Nettlebeam device.")
                        : QStringLiteral("The filter could not be set on the Nettlebeam device."),
                    QMessageBox::Ok, window_);
    box.exec();
}
