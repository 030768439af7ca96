// Identification and diagnostics of the transceiver modules in both cages of
// a ten-gigabit device, side by side: what each module declares in its
// identification page and what its diagnostics measure, with thresholds and
// alarm and warning lines. The display shows the link-status records the
// window hands it and never talks to the library; its "..." buttons open
// the option and transceiver-compliance details of a port's module.
#pragma once

#include <QWidget>
#include <array>

#include "NettlebeamAPI.h"
#include "sfptexts.h"
#include "statsthreadinfo.h"

class QLabel;
class QGridLayout;
class QPushButton;

class SFPDisplay : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPorts = 2;

    explicit SFPDisplay(QWidget* parent = nullptr);

    // Takes the module part of the link status carried in a status answer.
    void refresh(const StatsThreadInfo& info);
    // A record without module data (sfpValid 0) leaves the display as it was.
    void refresh(const NettlebeamApiLinkStatus& status);

  public slots:
    void slot_ShowTransceiverA();
    void slot_ShowTransceiverB();
    void slot_ShowOptionsA();
    void slot_ShowOptionsB();

  private:
    // The values of the four caption grids, in grid order.
    enum Item {
        Status,
        VendorName,
        VendorOui,
        Model,
        Revision,
        DateCode,
        SerialNumber,
        BitrateNominal,
        UpperMargin,
        LowerMargin,
        Encoding,
        RateId,
        Identifier,
        ExtIdentifier,
        Connector,
        Wavelength,
        MonitoringType,
        Compliance,
        LengthSmf,
        LengthOm2,
        LengthOm1,
        LengthCopper,
        LengthOm3,
        ItemCount
    };
    // Columns of a diagnostics table after the caption column.
    enum DiagnosticsColumn { LowAlarm, LowWarning, HighWarning, HighAlarm, Value, ColumnCount };

    struct PortWidgets {
        std::array<QLabel*, ItemCount> values{};
        QPushButton* transceiver = nullptr;
        QPushButton* options = nullptr;
        QPushButton* enhancedOptions = nullptr;
        std::array<std::array<QLabel*, ColumnCount>, SfpTexts::kQuantities> diagnostics{};
        QLabel* warnings = nullptr;
        QLabel* alarms = nullptr;
        QLabel* statusBits = nullptr;
    };

    QWidget* buildCaptionGrids();
    QGridLayout* captionGrid(const QString& title, QLayout* into);
    QWidget* buildDiagnostics(int port);
    QPushButton* detailsButton(const QString& name, int port);
    void showModule(int port);
    void clearDiagnostics(int port);
    static QString itemText(Item item, const NettlebeamApiSfpModule& module);
    void showTransceiver(int port);
    void showOptions(int port);

    std::array<NettlebeamApiSfpModule, kPorts> modules_{};
    std::array<PortWidgets, kPorts> ports_{};
};
