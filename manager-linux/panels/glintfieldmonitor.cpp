#include "glintfieldmonitor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>

#include "addonpipe.h"
#include "widgethelpers.h"

namespace {

bool isRunning(const QProcess& process) {
    return process.state() != QProcess::NotRunning;
}

}  // namespace

GlintfieldMonitor::GlintfieldMonitor(QObject* parent)
    : GlintfieldMonitor(QCoreApplication::applicationDirPath(), parent) {}

GlintfieldMonitor::GlintfieldMonitor(const QString& applicationDirectory, QObject* parent)
    : QObject(parent), applicationDirectory_(applicationDirectory), pipePath_(AddonPipe::path()) {
    setUpPart(httpServer_, QStringLiteral("HTTPServerES"), QStringLiteral("/../httpserveres"),
              {expandHome(QLatin1String(kServerConfig)), QStringLiteral("daemon")});
    setUpPart(
        elasticSearch_, QStringLiteral("elasticsearch.sh"), QString(),
        {QStringLiteral("-Edefault.path.conf=%1").arg(QLatin1String(kElasticSearchConfigFolder))});
    setUpPart(glintfield_, QStringLiteral("glintfield"), QStringLiteral("/../glintfield/bin"),
              {QStringLiteral("--config"), QLatin1String(kEngineConfig)});

    connect(&httpServer_.process, &QProcess::stateChanged, this,
            &GlintfieldMonitor::HttpServerStateChanged);
    connect(&elasticSearch_.process, &QProcess::stateChanged, this,
            &GlintfieldMonitor::ElasticSearchStateChanged);
    connect(&glintfield_.process, &QProcess::stateChanged, this,
            &GlintfieldMonitor::GlintfieldStateChanged);
    connect(&httpServer_.process, &QProcess::errorOccurred, this,
            &GlintfieldMonitor::HttpServerError);
    connect(&elasticSearch_.process, &QProcess::errorOccurred, this,
            &GlintfieldMonitor::ElasticSearchError);
    connect(&glintfield_.process, &QProcess::errorOccurred, this,
            &GlintfieldMonitor::GlintfieldError);
}

// No event loop runs here, so the kill timers cannot fire. All three were
// asked to end at once, so they share one 10 s: what still runs then is
// killed. Nobody hears about it.
GlintfieldMonitor::~GlintfieldMonitor() {
    blockSignals(true);
    stopIfRunning(Target_HTTPServer);
    stopIfRunning(Target_ElasticSearch);
    stopIfRunning(Target_Glintfield);
    const QDeadlineTimer deadline(kKillDelayMs);
    for (Part* part : {&httpServer_, &elasticSearch_, &glintfield_})
        if (isRunning(part->process)) part->process.waitForFinished(int(deadline.remainingTime()));
    for (Part* part : {&httpServer_, &elasticSearch_, &glintfield_})
        if (isRunning(part->process)) part->process.kill();
    for (Part* part : {&httpServer_, &elasticSearch_, &glintfield_})
        if (isRunning(part->process)) part->process.waitForFinished(-1);
}

void GlintfieldMonitor::setUpPart(Part& part, const QString& program, const QString& place,
                                  const QStringList& arguments) {
    part.program = program;
    part.place = place;
    part.arguments = arguments;
    // The add-on's output goes where the manager's goes instead of piling
    // up unread in memory for as long as the add-on runs.
    part.process.setProcessChannelMode(QProcess::ForwardedChannels);
    part.killTimer.setSingleShot(true);
    part.killTimer.setInterval(kKillDelayMs);
    connect(&part.killTimer, &QTimer::timeout, &part.process, &QProcess::kill);
}

GlintfieldMonitor::Part* GlintfieldMonitor::partFor(glintfieldmonitor_target target) {
    switch (target) {
        case Target_HTTPServer:
            return &httpServer_;
        case Target_ElasticSearch:
            return &elasticSearch_;
        case Target_Glintfield:
            return &glintfield_;
        default:
            return nullptr;
    }
}

void GlintfieldMonitor::Command(glintfieldmonitor_target target,
                                glintfieldmonitor_command command) {
    if (target == Target_Monitor) {
        monitorCommand(command);
        return;
    }
    Part* part = partFor(target);
    if (part == nullptr) {
        qDebug("GlintfieldMonitor::Command : Invalid target");
        return;
    }
    // A pipe left without a server blocks the next one; a running server's
    // pipe is its live end and stays.
    if (target == Target_HTTPServer && !isRunning(part->process) && !pipePath_.isEmpty())
        AddonPipe::remove(pipePath_);
    switch (command) {
        case Command_Start:
            if (isRunning(part->process)) {
                qDebug("GlintfieldMonitor::Command : Process is already running");
            } else {
                start(*part);
            }
            break;
        case Command_Stop:
            if (isRunning(part->process)) {
                stop(target, *part);
            } else {
                qDebug("GlintfieldMonitor::Command : Process is not running");
            }
            break;
        default:
            qDebug("GlintfieldMonitor::Command : Invalid command");
    }
}

void GlintfieldMonitor::monitorCommand(glintfieldmonitor_command command) {
    switch (command) {
        case Command_Stop:
            stopIfRunning(Target_HTTPServer);
            stopIfRunning(Target_Glintfield);
            stopIfRunning(Target_ElasticSearch);
            break;
        case Command_StartListening:
            Command(Target_HTTPServer, Command_Start);
            emit StatusChanged(Target_ElasticSearch, Status_Disabled);
            emit StatusChanged(Target_Glintfield, Status_Disabled);
            break;
        case Command_StartLocal:
            Command(Target_ElasticSearch, Command_Start);
            Command(Target_HTTPServer, Command_Start);
            Command(Target_Glintfield, Command_Start);
            break;
        case Command_StartRemote:
            Command(Target_ElasticSearch, Command_Start);
            Command(Target_Glintfield, Command_Start);
            emit StatusChanged(Target_HTTPServer, Status_Disabled);
            break;
        default:
            qDebug("GlintfieldMonitor::MonitorCommand : Invalid command");
    }
}

void GlintfieldMonitor::start(Part& part) {
    const QString place = applicationDirectory_ + part.place;
    const QString program = place + QLatin1Char('/') + part.program;
    qDebug("Starting : %s %s", qPrintable(program),
           qPrintable(part.arguments.join(QLatin1Char(' '))));
    part.process.setWorkingDirectory(place);
    part.process.start(program, part.arguments, QIODevice::ReadWrite);
}

void GlintfieldMonitor::stop(glintfieldmonitor_target target, Part& part) {
    emit StatusChanged(target, Status_Stopping);
    part.killTimer.start();
    part.process.terminate();
}

void GlintfieldMonitor::stopIfRunning(glintfieldmonitor_target target) {
    Part* part = partFor(target);
    if (part != nullptr && isRunning(part->process)) Command(target, Command_Stop);
}

bool GlintfieldMonitor::anyRunning() const {
    return isRunning(httpServer_.process) || isRunning(elasticSearch_.process) ||
           isRunning(glintfield_.process);
}

void GlintfieldMonitor::stateChanged(glintfieldmonitor_target target,
                                     QProcess::ProcessState newState) {
    Part* part = partFor(target);
    if (part == nullptr) {
        qDebug("GlintfieldMonitor::StateChanged : Invalid target");
        return;
    }
    switch (newState) {
        case QProcess::NotRunning:
            part->killTimer.stop();
            emit StatusChanged(target, Status_Stopped);
            if (!anyRunning()) emit StatusChanged(Target_Monitor, Status_Stopped);
            break;
        case QProcess::Starting:
            emit StatusChanged(target, Status_Starting);
            break;
        case QProcess::Running:
            emit StatusChanged(target, Status_Started);
            break;
    }
}

void GlintfieldMonitor::HttpServerStateChanged(QProcess::ProcessState newState) {
    stateChanged(Target_HTTPServer, newState);
}

void GlintfieldMonitor::ElasticSearchStateChanged(QProcess::ProcessState newState) {
    stateChanged(Target_ElasticSearch, newState);
}

void GlintfieldMonitor::GlintfieldStateChanged(QProcess::ProcessState newState) {
    stateChanged(Target_Glintfield, newState);
}

// Failures are only logged: the state change that follows reports the process stopped.
void GlintfieldMonitor::HttpServerError(QProcess::ProcessError) {
    qDebug("GlintfieldMonitor::HttpServerError : Process failed to start");
}

void GlintfieldMonitor::ElasticSearchError(QProcess::ProcessError) {
    qDebug("GlintfieldMonitor::ElasticSearchError : Process failed to start");
}

void GlintfieldMonitor::GlintfieldError(QProcess::ProcessError) {
    qDebug("GlintfieldMonitor::GlintfieldError : Process failed to start");
}
