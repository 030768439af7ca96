#include "cloudsharkcontrol.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPixmap>
#include <QSettings>
#include <QStandardPaths>
#include <utility>

#include "sizetext.h"
#include "ui_cloudsharkcontrol.h"
#include "uploadaddress.h"
#include "widgethelpers.h"

namespace {

const QString kGroup = QStringLiteral("Cloudshark");
const QString kNoTShark = QStringLiteral("TShark not available");
// After SIGKILL a process ends at once; the bound only guards against a
// process the kernel cannot reap (stuck in uninterruptible I/O).
constexpr int kKillWaitMs = 5000;

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

}  // namespace

CloudsharkControl::CloudsharkControl(QWidget* parent)
    : CloudsharkControl(QStandardPaths::findExecutable(QStringLiteral("tshark")), parent) {}

CloudsharkControl::CloudsharkControl(const QString& tsharkPath, QWidget* parent)
    : QWidget(parent), ui(new Ui::CloudsharkControl), tsharkPath_(tsharkPath) {
    ui->setupUi(this);
    ui->logo->setPixmap(QPixmap(QStringLiteral(":/images/cloudshark.png")));
    hideProgress();
    ui->speed->setText(sizeText(0, QStringLiteral("B/s")));
    ui->progress->setValue(0);
    enableConfig();
    hideError();

    tshark_ = new QProcess(this);
    network_ = new QNetworkAccessManager(this);
    connect(tshark_, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            &CloudsharkControl::processSuccess);
    connect(tshark_, &QProcess::errorOccurred, this, &CloudsharkControl::processError);
    connect(tshark_, &QProcess::readyReadStandardOutput, this,
            &CloudsharkControl::drainFilterOutput);
    connect(ui->cancel, &QPushButton::clicked, this, &CloudsharkControl::cancel);
    connect(ui->enabled, &QCheckBox::stateChanged, this, &CloudsharkControl::enabledChanged);
    for (QLineEdit* edit : {ui->url, ui->token, ui->filter})
        connect(edit, &QLineEdit::editingFinished, this, &CloudsharkControl::SaveConfig);
}

CloudsharkControl::~CloudsharkControl() {
    // Files still queued at exit are dropped with their links.
    if (reply_ != nullptr) {
        reply_->disconnect(this);
        reply_->abort();
        delete reply_;
        reply_ = nullptr;
    }
    stopTShark();
    dropEntries();
    delete ui;
}

void CloudsharkControl::setSettings(QSettings* settings) {
    settings_ = settings;
    if (settings_ == nullptr) return;
    settings_->beginGroup(kGroup);
    ui->url->setText(settings_->value(QStringLiteral("Url")).toString());
    ui->token->setText(settings_->value(QStringLiteral("Token")).toString());
    // Without TShark the edit keeps saying so; the stored filter stays stored.
    if (!tsharkPath_.isEmpty())
        ui->filter->setText(settings_->value(QStringLiteral("Filter")).toString());
    settings_->endGroup();
}

void CloudsharkControl::setDeviceLookup(DeviceLookup lookup) {
    lookup_ = std::move(lookup);
}

NettlebeamDevice* CloudsharkControl::knownDevice(NettlebeamApiDeviceHandle handle) const {
    if (!lookup_) return nullptr;
    NettlebeamDevice* device = lookup_(handle);
    return device != nullptr && device->handle != -1 ? device : nullptr;
}

void CloudsharkControl::captureStatusChanged(NettlebeamApiDeviceHandle handle,
                                             NettlebeamApiCallbackValue_DiskDump status) {
    NettlebeamDevice* device = knownDevice(handle);
    if (device == nullptr) return;
    if (status.enabled != 0) {
        disableConfig();
        captureRunning_ = true;
        if (ui->enabled->isChecked()) {
            device->reserved = 1;
            writing_.erase(handle);
            hideError();
            showProgress();
        }
        return;
    }
    // The file written last is finished now: queued while the device still
    // counts as uploading, before an empty queue returns the panel to idle.
    const auto last = writing_.find(handle);
    if (last != writing_.end()) {
        const QString path = last->second;
        writing_.erase(last);
        if (device->reserved != 0 && ui->enabled->isChecked()) enqueue(handle, path);
    }
    captureRunning_ = false;
    if (queue_.empty() && current_ == nullptr) {
        hideProgress();
        enableConfig();
    }
    device->reserved = 0;
}

void CloudsharkControl::newFileAvailable(NettlebeamApiDeviceHandle handle, QString filename) {
    NettlebeamDevice* device = knownDevice(handle);
    if (device == nullptr || device->reserved == 0) return;
    // The announcement names the file the device starts writing; the one it
    // wrote before is complete.
    QString finished = std::exchange(writing_[handle], filename);
    if (!finished.isEmpty() && ui->enabled->isChecked()) enqueue(handle, finished);
}

void CloudsharkControl::enqueue(NettlebeamApiDeviceHandle handle, const QString& path) {
    std::unique_ptr<UploadEntry> entry = UploadEntry::create(handle, path);
    if (entry == nullptr) return;  // unreadable or empty: nothing to send
    remaining_ += entry->size();
    queue_.push_back(std::move(entry));
    updateRemaining(remaining_);
    showProgress();
    if (current_ == nullptr) startNext();
}

void CloudsharkControl::startNext() {
    if (queue_.empty()) return;
    std::unique_ptr<UploadEntry> entry = std::move(queue_.front());
    queue_.pop_front();
    startUpload(std::move(entry));
}

void CloudsharkControl::startUpload(std::unique_ptr<UploadEntry> entry) {
    if (ui->token->text().isEmpty()) return refuse(QStringLiteral("Invalid token"));
    url_ = UploadAddress::uploadUrl(ui->url->text(), ui->token->text(), entry->path());
    if (!url_.isValid()) return refuse(QStringLiteral("Invalid URL"));
    current_ = std::move(entry);
    meter_.restart(nowMs());
    const bool filtered = !tsharkPath_.isEmpty() && !ui->filter->text().isEmpty();
    if (filtered) {
        startFilter();
    } else {
        put(current_->uploadPath());
    }
}

void CloudsharkControl::refuse(const QString& text) {
    showError(text);
    checkWithoutSignals(ui->enabled, false);
    dropEntries();
    updateRemaining(remaining_);
}

void CloudsharkControl::startFilter() {
    filterOutput_ = current_->createFilteredCopy();
    if (filterOutput_ == nullptr) {
        showError(QStringLiteral("Cannot create the filtered copy of ") + current_->path());
        return cancel();
    }
    tshark_->start(
        tsharkPath_,
        {QStringLiteral("-q"), QStringLiteral("-r"), current_->uploadPath(), QStringLiteral("-R"),
         ui->filter->text(), QStringLiteral("-2"), QStringLiteral("-w"), QStringLiteral("-")},
        QIODevice::ReadWrite);
}

void CloudsharkControl::drainFilterOutput() {
    const QByteArray chunk = tshark_->readAllStandardOutput();
    if (filterOutput_ == nullptr || chunk.isEmpty()) return;
    if (filterOutput_->write(chunk) != chunk.size()) {
        showError(QStringLiteral("Cannot write the filtered copy of ") + current_->path() +
                  QStringLiteral(": ") + filterOutput_->errorString());
        cancel();
    }
}

void CloudsharkControl::processSuccess(int exitCode, QProcess::ExitStatus exitStatus) {
    if (filterOutput_ == nullptr || current_ == nullptr) return;  // killed on purpose
    drainFilterOutput();
    if (filterOutput_ == nullptr) return;  // the write failed and cancelled
    const bool written = filterOutput_->flush();
    filterOutput_.reset();
    if (exitStatus != QProcess::NormalExit || exitCode != 0 || !written) {
        const QString why = QString::fromLocal8Bit(tshark_->readAllStandardError()).trimmed();
        showError(QStringLiteral("TShark could not filter ") + current_->path() +
                  (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
        return cancel();
    }
    put(current_->filteredPath());
}

void CloudsharkControl::processError(QProcess::ProcessError error) {
    // A crash or a kill also finishes the process; only a failed start does not.
    if (error != QProcess::FailedToStart || filterOutput_ == nullptr) return;
    filterOutput_.reset();
    showError(QStringLiteral("TShark could not be started: ") + tshark_->errorString());
    cancel();
}

void CloudsharkControl::put(const QString& path) {
    std::unique_ptr<QFile> body = UploadEntry::openForReading(path);
    if (body == nullptr) {
        showError(QStringLiteral("Cannot read ") + path);
        return cancel();
    }
    QNetworkRequest request(url_);
    request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    reply_ = network_->put(request, body.get());
    body.release()->setParent(reply_);  // the reply owns its body
    connect(reply_, &QNetworkReply::finished, this, &CloudsharkControl::uploadFinished);
    connect(reply_, &QNetworkReply::errorOccurred, this, &CloudsharkControl::uploadError);
    connect(reply_, &QNetworkReply::uploadProgress, this, &CloudsharkControl::uploadProgress);
}

void CloudsharkControl::uploadProgress(qint64 bytesSent, qint64 bytesTotal) {
    const std::optional<UploadMeter::Reading> reading =
        meter_.sample(bytesSent, bytesTotal, nowMs());
    if (!reading) return;
    ui->progress->setValue(reading->percent);
    if (reading->speed) ui->speed->setText(sizeText(quint64(*reading->speed), "B/s"));
}

void CloudsharkControl::uploadFinished() {
    if (reply_ == nullptr || sender() != reply_) return;
    const QNetworkReply::NetworkError code = reply_->error();
    if (code == QNetworkReply::NoError) {
        hideError();
        remaining_ -= current_->size();
        updateRemaining(remaining_);
        releaseReply();
        current_.reset();
        startNext();
        if (current_ == nullptr) becomeIdle();
    } else if (code == QNetworkReply::OperationCanceledError) {
        releaseReply();
        becomeIdle();
    } else {
        // Qt's text quotes the request's URL, which holds the token.
        showError(UploadAddress::maskToken(reply_->errorString(), ui->token->text()));
        releaseReply();
        cancel();
    }
}

void CloudsharkControl::uploadError(QNetworkReply::NetworkError /*code*/) {}

void CloudsharkControl::becomeIdle() {
    stopTShark();
    hideProgress();
    if (!captureRunning_) enableConfig();
}

void CloudsharkControl::releaseReply() {
    if (reply_ == nullptr) return;
    reply_->disconnect(this);
    reply_->deleteLater();
    reply_ = nullptr;
}

void CloudsharkControl::stopTShark() {
    filterOutput_.reset();
    if (tshark_ == nullptr || tshark_->state() == QProcess::NotRunning) return;
    tshark_->kill();
    tshark_->waitForFinished(kKillWaitMs);
}

void CloudsharkControl::dropEntries() {
    stopTShark();  // before its output file goes
    queue_.clear();
    current_.reset();
    remaining_ = 0;
}

void CloudsharkControl::cancel() {
    checkWithoutSignals(ui->enabled, false);
    dropEntries();
    updateRemaining(0);
    // The reply's finish then arrives as cancelled; without one (TShark was
    // still filtering) the panel is idle at once.
    if (reply_ != nullptr) {
        reply_->abort();
    } else {
        becomeIdle();
    }
}

void CloudsharkControl::SaveConfig() {
    if (settings_ == nullptr) return;
    settings_->beginGroup(kGroup);
    settings_->setValue(QStringLiteral("Url"), ui->url->text());
    settings_->setValue(QStringLiteral("Token"), ui->token->text());
    if (!tsharkPath_.isEmpty()) settings_->setValue(QStringLiteral("Filter"), ui->filter->text());
    settings_->endGroup();
    settings_->sync();
}

void CloudsharkControl::hideProgress() {
    ui->progressPanel->hide();
}

void CloudsharkControl::showProgress() {
    ui->progressPanel->show();
}

void CloudsharkControl::showError(QString text) {
    ui->error->setText(QStringLiteral("<b>Error : </b>") + text.toHtmlEscaped());
    ui->errorPanel->show();
    hideProgress();
}

void CloudsharkControl::hideError() {
    ui->errorPanel->hide();
}

void CloudsharkControl::updateRemaining(qint64 total) {
    ui->remaining->setText(sizeText(quint64(std::max<qint64>(total, 0)), QStringLiteral("B")));
}

void CloudsharkControl::enabledChanged(int state) {
    if (state == Qt::Checked) hideError();
}

void CloudsharkControl::enableConfig() {
    for (QWidget* widget : std::initializer_list<QWidget*>{ui->enabled, ui->token, ui->url})
        widget->setEnabled(true);
    ui->filter->setEnabled(!tsharkPath_.isEmpty());
    if (tsharkPath_.isEmpty()) ui->filter->setText(kNoTShark);
}

void CloudsharkControl::disableConfig() {
    for (QWidget* widget :
         std::initializer_list<QWidget*>{ui->enabled, ui->token, ui->url, ui->filter})
        widget->setEnabled(false);
    if (tsharkPath_.isEmpty()) ui->filter->setText(kNoTShark);
}
