// Starts, stops and watches the processes of the Glintfield analysis add-on
// (HTTP server, Elasticsearch, engine) and reports each state change.
// Placeholder: the monitor takes commands; running the processes comes later.
#pragma once

#include <QObject>

class GlintfieldMonitor : public QObject {
    Q_OBJECT
  public:
    enum glintfieldmonitor_target {
        Target_Monitor = 0,
        Target_HTTPServer = 1,
        Target_ElasticSearch = 2,
        Target_Glintfield = 3
    };
    Q_ENUM(glintfieldmonitor_target)

    enum glintfieldmonitor_status {
        Status_Stopped = 0,
        Status_Stopping = 1,
        Status_Started = 2,
        Status_Starting = 3,
        Status_Error = 4,
        Status_Disabled = 5
    };
    Q_ENUM(glintfieldmonitor_status)

    enum glintfieldmonitor_command {
        Command_Start = 0,
        Command_Stop = 1,
        Command_StartListening = 2,
        Command_StartLocal = 3,
        Command_StartRemote = 4
    };
    Q_ENUM(glintfieldmonitor_command)

    explicit GlintfieldMonitor(QObject* parent = nullptr);

  signals:
    void StatusChanged(glintfieldmonitor_target target, glintfieldmonitor_status type);

  public slots:
    void Command(glintfieldmonitor_target target, glintfieldmonitor_command command);
};
