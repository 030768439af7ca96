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
        // The device says again that it runs (a cache overflow does): the
        // capture goes on with the file it is writing.
        if (captures_.count(handle) != 0) return;
        disableConfig();
        Capture& capture = captures_[handle];
        capture.uploading = ui->enabled->isChecked();
        if (capture.uploading) {
            device->uploading = true;
            lost_ = 0;
            hideError();
            showProgress();
        }
        return;
    }
    endCapture(handle);
    device->uploading = false;
}

void CloudsharkControl::deviceLeft(NettlebeamApiDeviceHandle handle) {
    // The device closed its file when it went; the record may be gone already.
    endCapture(handle);
}

void CloudsharkControl::endCapture(NettlebeamApiDeviceHandle handle) {
    const auto found = captures_.find(handle);
    if (found != captures_.end()) {
        // Queued before an empty queue can return the panel to idle.
        std::unique_ptr<UploadEntry> last = std::move(found->second.writing);
        captures_.erase(found);
        if (last != nullptr) enqueue(std::move(last));
    }
    if (captures_.empty() && queue_.empty() && current_ == nullptr) {
        hideProgress();
        enableConfig();
    }
}

void CloudsharkControl::newFileAvailable(NettlebeamApiDeviceHandle handle, QString filename) {
    adoptAnnounced(handle, filename, nullptr, QString());
}

void CloudsharkControl::linkAnnouncedFile(NettlebeamApiDeviceHandle handle,
                                          const QString& filename) {
    QString why;
    std::unique_ptr<UploadEntry> entry;
    if (uploadWanted_.load()) {
        entry = UploadEntry::announce(handle, filename, &why);
    }
    // Shared only to pass through the event queue: an announcement that never
    // arrives (the panel went first) takes its link with it.
    auto held = std::make_shared<std::unique_ptr<UploadEntry>>(std::move(entry));
    QMetaObject::invokeMethod(
        this,
        [this, handle, filename, held, why] {
            adoptAnnounced(handle, filename, std::move(*held), why);
        },
        Qt::QueuedConnection);
}

void CloudsharkControl::adoptAnnounced(NettlebeamApiDeviceHandle handle, const QString& filename,
                                       std::unique_ptr<UploadEntry> entry, QString why) {
    const auto found = captures_.find(handle);
    if (found == captures_.end() || !found->second.uploading) return;  // the link goes with it
    // A looping capture removes its oldest file as it announces a new one:
    // the link is made at the announcement, the file queued once the device
    // moves on.
    if (entry == nullptr && why.isEmpty()) entry = UploadEntry::announce(handle, filename, &why);
    if (entry == nullptr) reportLost(filename, why);
    std::unique_ptr<UploadEntry> finished = std::exchange(found->second.writing, std::move(entry));
    if (finished != nullptr) enqueue(std::move(finished));
}

void CloudsharkControl::enqueue(std::unique_ptr<UploadEntry> entry) {
    QString why;
    if (!entry->finish(&why)) {
        if (!why.isEmpty()) reportLost(entry->path(), why);
        return;  // an empty file holds nothing to send
    }
    remaining_ += entry->size();
    queue_.push_back(std::move(entry));
    updateRemaining(remaining_);
    showProgress();
    if (current_ == nullptr) startNext();
}

void CloudsharkControl::reportLost(const QString& path, const QString& why) {
    ++lost_;
    QString text = path + QStringLiteral(" was not sent: ") + why;
    if (lost_ > 1) text += QStringLiteral(" (%1 files not sent)").arg(lost_);
    showErrorText(text);
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
    stopUploading();
    updateRemaining(remaining_);
}

void CloudsharkControl::stopUploading() {
    checkWithoutSignals(ui->enabled, false);
    setUploadWanted(false);
    for (auto& [handle, capture] : captures_) {
        capture.uploading = false;
        capture.writing.reset();
    }
    dropEntries();
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
    // A redirection is reported, not followed: the body is read only once.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
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

QString CloudsharkControl::replyFailure() const {
    const QNetworkReply::NetworkError code = reply_->error();
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QString token = ui->token->text();
    QString text;
    if (code == QNetworkReply::ContentReSendError) {
        // The connection closed under the body; the file is not sent twice.
        text = url_.toString() + QStringLiteral(" closed the connection before the file was sent");
    } else if (code != QNetworkReply::NoError) {
        // Qt's text quotes the request's URL for most errors, but a
        // connection reset while the body goes out is a bare "Unknown
        // error": name where the file was going then.
        const QString where = UploadAddress::maskToken(url_.toString(), token);
        text = UploadAddress::maskToken(reply_->errorString(), token);
        if (!text.contains(where)) text = where + QStringLiteral(": ") + text;
    } else if (status.toInt() < 200 || status.toInt() > 299) {
        // A redirection, too, leaves the file where it is not stored.
        text = url_.toString() + QStringLiteral(" answered ") + status.toString() + ' ' +
               reply_->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        const QUrl target = reply_->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        if (target.isValid())
            text += QStringLiteral(", moved to ") + url_.resolved(target).toString();
    }
    return UploadAddress::maskToken(text, token);
}

void CloudsharkControl::uploadFinished() {
    if (reply_ == nullptr || sender() != reply_) return;
    if (reply_->error() == QNetworkReply::OperationCanceledError) {
        releaseReply();
        return becomeIdle();
    }
    QString failure = replyFailure();
    if (failure.isEmpty()) {
        // A lost file's report stays until the next capture or check.
        remaining_ -= current_->size();
        updateRemaining(remaining_);
        releaseReply();
        current_.reset();
        startNext();
        if (current_ == nullptr) becomeIdle();
        return;
    }
    // The appliance did not store the file: its data stays at the link.
    if (current_->linked()) {
        current_->keepLink();
        failure += QStringLiteral("; the file is kept as ") + current_->linkPath();
    }
    showError(failure);
    releaseReply();
    cancel();
}

void CloudsharkControl::uploadError(QNetworkReply::NetworkError /*code*/) {}

void CloudsharkControl::becomeIdle() {
    stopTShark();
    hideProgress();
    if (captures_.empty()) enableConfig();
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
    stopUploading();
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
    showErrorText(text);
    hideProgress();
}

// Paths have no spaces for the label to wrap at: a zero-width space after
// each separator lets a long path wrap in the panel instead of being cut.
void CloudsharkControl::showErrorText(const QString& text) {
    QString shown = text.toHtmlEscaped();
    shown.replace(QLatin1Char('/'), QStringLiteral("/\u200b"));
    shown.replace(QLatin1Char('_'), QStringLiteral("_\u200b"));
    ui->error->setText(QStringLiteral("<b>Error : </b>") + shown);
    ui->errorPanel->show();
}

void CloudsharkControl::hideError() {
    ui->errorPanel->hide();
}

void CloudsharkControl::updateRemaining(qint64 total) {
    ui->remaining->setText(sizeText(quint64(std::max<qint64>(total, 0)), QStringLiteral("B")));
}

void CloudsharkControl::enabledChanged(int state) {
    setUploadWanted(state == Qt::Checked);
    if (state == Qt::Checked) hideError();
}

void CloudsharkControl::setUploadWanted(bool wanted) {
    uploadWanted_.store(wanted);
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
