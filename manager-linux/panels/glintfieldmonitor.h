// Starts, stops and watches the processes of the Glintfield analysis add-on
// (HTTP server, Elasticsearch, engine), installed beside the manager, and
// reports each state change. A process that ignores the request to end is
// killed after 10 s, also when the monitor is destroyed: destruction asks
// all three to end and never waits longer than that for them together.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

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

    static constexpr int kKillDelayMs = 10000;

    // The configuration the parts are started with; the add-on page edits
    // these files.
    static constexpr char kServerConfig[] = "~/.config/glintfield/glintfield_server_config.ini";
    static constexpr char kElasticSearchConfigFolder[] = "/etc/elasticsearch";
    static constexpr char kEngineConfig[] = "/etc/glintfield/glintfield.yml";

    // The add-on is looked for beside the manager's executable.
    explicit GlintfieldMonitor(QObject* parent = nullptr);
    GlintfieldMonitor(const QString& applicationDirectory, QObject* parent);
    ~GlintfieldMonitor() override;

    QString applicationDirectory() const { return applicationDirectory_; }
    // Takes effect with the next start of each process.
    void setApplicationDirectory(const QString& directory) { applicationDirectory_ = directory; }
    // The server's named pipe, removed before a command on the server while
    // no server runs; empty when no private place for it was found.
    QString pipePath() const { return pipePath_; }

  signals:
    void StatusChanged(glintfieldmonitor_target target, glintfieldmonitor_status type);

  public slots:
    void Command(glintfieldmonitor_target target, glintfieldmonitor_command command);

  private slots:
    void HttpServerStateChanged(QProcess::ProcessState newState);
    void ElasticSearchStateChanged(QProcess::ProcessState newState);
    void GlintfieldStateChanged(QProcess::ProcessState newState);
    void HttpServerError(QProcess::ProcessError error);
    void ElasticSearchError(QProcess::ProcessError error);
    void GlintfieldError(QProcess::ProcessError error);

  private:
    // One add-on process: where it is, how it is called, its kill timer.
    struct Part {
        QProcess process;
        QTimer killTimer;
        QString program;
        QString place;  // relative to the application directory
        QStringList arguments;
    };

    void setUpPart(Part& part, const QString& program, const QString& place,
                   const QStringList& arguments);
    Part* partFor(glintfieldmonitor_target target);
    void monitorCommand(glintfieldmonitor_command command);
    void start(Part& part);
    void stop(glintfieldmonitor_target target, Part& part);
    void stopIfRunning(glintfieldmonitor_target target);
    void stateChanged(glintfieldmonitor_target target, QProcess::ProcessState newState);
    bool anyRunning() const;

    QString applicationDirectory_;
    QString pipePath_;
    Part httpServer_;
    Part elasticSearch_;
    Part glintfield_;
};
