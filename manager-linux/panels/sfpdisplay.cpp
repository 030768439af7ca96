#include "sfpdisplay.h"

#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <initializer_list>

#include "sfpoptions.h"
#include "sfptransceiver.h"

namespace {

constexpr const char* kPortNames[SFPDisplay::kPorts] = {"A", "B"};

// A grid line shows an item's value or, for the three detail rows, a button.
enum Button { TransceiverButton = -1, OptionsButton = -2, EnhancedOptionsButton = -3 };

struct GridLine {
    const char* caption;
    const char* key;  // object names are key + port letter
    int item;         // an Item, or a Button
};

struct CaptionGrid {
    const char* title;
    std::initializer_list<GridLine> lines;
};

const char* const kQuantityKeys[SfpTexts::kQuantities] = {"temperature", "vcc", "txBias", "txPower",
                                                          "rxPower"};
const char* const kQuantityCaptions[SfpTexts::kQuantities] = {"Temperature", "Vcc", "TX Bias",
                                                              "TX Power", "RX Power"};
const char* const kColumnKeys[] = {"LowAlarm", "LowWarning", "HighWarning", "HighAlarm", "Value"};
const char* const kColumnCaptions[] = {"Low\nAlarm", "Low\nWarning", "High\nWarning", "High\nAlarm",
                                       "Value"};

QLabel* boldLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// The thin line between two items of a grid.
void addSeparator(QGridLayout* grid, int row, int columns, QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    grid->addWidget(line, row, 0, 1, columns);
}

QLabel* valueLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Long values wrap rather than widen the page beyond the window.
    label->setWordWrap(true);
    return label;
}

NettlebeamApiSfpThresholds measurements(const NettlebeamApiSfpModule& module) {
    return {module.temperature, module.vcc, module.txBias, module.txPower, module.rxPower};
}

}  // namespace

SFPDisplay::SFPDisplay(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(buildCaptionGrids());
    for (int port = 0; port < kPorts; ++port) layout->addWidget(buildDiagnostics(port));
    layout->addStretch(1);
    resize(1115, 685);
}

QWidget* SFPDisplay::buildCaptionGrids() {
    const CaptionGrid grids[] = {
        {"Identification",
         {{"Status", "status", Status},
          {"Vendor name", "vendorName", VendorName},
          {"Vendor OUI", "vendorOui", VendorOui},
          {"Model", "model", Model},
          {"Revision", "revision", Revision},
          {"Date code", "dateCode", DateCode},
          {"Serial number", "serialNumber", SerialNumber}}},
        {"Bit rate",
         {{"Bitrate, nominal", "bitrateNominal", BitrateNominal},
          {"Upper bitrate margin", "upperMargin", UpperMargin},
          {"Lower bitrate margin", "lowerMargin", LowerMargin},
          {"Encoding", "encoding", Encoding},
          {"Rate ID", "rateId", RateId}}},
        {"Module",
         {{"Identifier", "identifier", Identifier},
          {"Ext. Identifier", "extIdentifier", ExtIdentifier},
          {"Connector", "connector", Connector},
          {"Transceiver", "transceiver", TransceiverButton},
          {"Wavelength", "wavelength", Wavelength},
          {"Options", "options", OptionsButton},
          {"Diagnostic monitoring type", "monitoringType", MonitoringType},
          {"Enhanced options", "enhancedOptions", EnhancedOptionsButton},
          {"SFF-8472 compliance", "compliance", Compliance}}},
        {"Lengths",
         {{"Length 9/125µm fiber", "lengthSmf", LengthSmf},
          {"Length 50/125µm OM2 fiber", "lengthOm2", LengthOm2},
          {"Length 62.5/125µm OM1 fiber", "lengthOm1", LengthOm1},
          {"Length copper and active cable", "lengthCopper", LengthCopper},
          {"Length 50/125µm fiber", "lengthOm3", LengthOm3}}},
    };
    auto* area = new QWidget(this);
    auto* columns = new QHBoxLayout(area);
    columns->setContentsMargins(0, 0, 0, 0);
    QVBoxLayout* column = nullptr;
    int index = 0;
    for (const CaptionGrid& definition : grids) {
        if (index++ % 2 == 0) {
            column = new QVBoxLayout;
            columns->addLayout(column, 1);
        }
        QGridLayout* grid = captionGrid(QString::fromUtf8(definition.title), column);
        QWidget* box = grid->parentWidget();
        int row = 1;
        for (const GridLine& line : definition.lines) {
            if (row > 1) addSeparator(grid, row - 1, 3, box);
            grid->addWidget(new QLabel(QString::fromUtf8(line.caption), box), row, 0);
            for (int port = 0; port < kPorts; ++port) {
                const QString name =
                    QString::fromLatin1(line.key) + QLatin1String(kPortNames[port]);
                PortWidgets& widgets = ports_[port];
                if (line.item >= 0) {
                    QLabel* value = valueLabel(name, box);
                    widgets.values[line.item] = value;
                    grid->addWidget(value, row, 1 + port);
                    continue;
                }
                QPushButton* button = detailsButton(name, port);
                if (line.item == TransceiverButton) widgets.transceiver = button;
                if (line.item == OptionsButton) widgets.options = button;
                if (line.item == EnhancedOptionsButton) widgets.enhancedOptions = button;
                grid->addWidget(button, row, 1 + port, Qt::AlignLeft);
            }
            row += 2;
        }
        column->addStretch(1);
    }
    return area;
}

QGridLayout* SFPDisplay::captionGrid(const QString& title, QLayout* into) {
    auto* box = new QGroupBox(title, this);
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(2);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    for (int port = 0; port < kPorts; ++port) {
        grid->addWidget(
            boldLabel(QStringLiteral("Port %1").arg(QLatin1String(kPortNames[port])), box), 0,
            1 + port);
    }
    into->addWidget(box);
    return grid;
}

QPushButton* SFPDisplay::detailsButton(const QString& name, int port) {
    auto* button = new QPushButton(QStringLiteral("..."), this);
    button->setObjectName(name);
    button->setFixedSize(30, 20);
    button->setEnabled(false);
    if (name.startsWith(QLatin1String("transceiver"))) {
        connect(
            button, &QPushButton::clicked, this,
            port == 0 ? &SFPDisplay::slot_ShowTransceiverA : &SFPDisplay::slot_ShowTransceiverB);
    } else {
        connect(button, &QPushButton::clicked, this,
                port == 0 ? &SFPDisplay::slot_ShowOptionsA : &SFPDisplay::slot_ShowOptionsB);
    }
    return button;
}

QWidget* SFPDisplay::buildDiagnostics(int port) {
    const QString letter = QLatin1String(kPortNames[port]);
    auto* box = new QGroupBox(QStringLiteral("Diagnostics"), this);
    auto* layout = new QHBoxLayout(box);
    auto* table = new QGridLayout;
    table->setVerticalSpacing(2);
    // Both ports' tables line up, one above the other.
    table->setColumnMinimumWidth(0, 110);
    for (int column = 1; column <= ColumnCount; ++column) table->setColumnMinimumWidth(column, 90);
    table->addWidget(boldLabel(QStringLiteral("Port ") + letter, box), 0, 0);
    for (int column = 0; column < ColumnCount; ++column)
        table->addWidget(boldLabel(QString::fromLatin1(kColumnCaptions[column]), box), 0,
                         1 + column);
    PortWidgets& widgets = ports_[port];
    for (int q = 0; q < SfpTexts::kQuantities; ++q) {
        const int row = 1 + 2 * q;
        if (q > 0) addSeparator(table, row - 1, 1 + ColumnCount, box);
        table->addWidget(new QLabel(QString::fromLatin1(kQuantityCaptions[q]), box), row, 0);
        for (int column = 0; column < ColumnCount; ++column) {
            QLabel* value = valueLabel(
                QString::fromLatin1(kQuantityKeys[q]) + QLatin1String(kColumnKeys[column]) + letter,
                box);
            widgets.diagnostics[q][column] = value;
            table->addWidget(value, row, 1 + column);
        }
    }
    layout->addLayout(table, 3);

    auto* flags = new QGridLayout;
    const std::pair<const char*, QLabel**> lines[] = {{"Warnings", &widgets.warnings},
                                                      {"Alarms", &widgets.alarms},
                                                      {"Status Bits", &widgets.statusBits}};
    int row = 1;
    for (const auto& [caption, label] : lines) {
        flags->addWidget(new QLabel(QString::fromLatin1(caption), box), row, 0);
        QString key = QString::fromLatin1(caption).remove(' ');
        key[0] = key[0].toLower();
        *label = valueLabel(key + letter, box);
        flags->addWidget(*label, row, 1);
        row += 2;
    }
    flags->setRowStretch(row, 1);
    layout->addLayout(flags, 2);
    return box;
}

void SFPDisplay::refresh(const StatsThreadInfo& info) {
    refresh(info.linkStatus);
}

void SFPDisplay::refresh(const NettlebeamApiLinkStatus& status) {
    if (status.sfpValid == 0) return;
    for (int port = 0; port < kPorts; ++port) {
        modules_[port] = status.sfp[port];
        showModule(port);
    }
}

void SFPDisplay::showModule(int port) {
    const NettlebeamApiSfpModule& module = modules_[port];
    PortWidgets& widgets = ports_[port];
    const bool present = module.present != 0;
    for (QPushButton* button : {widgets.transceiver, widgets.options, widgets.enhancedOptions})
        button->setEnabled(present);
    for (int item = 0; item < ItemCount; ++item) {
        widgets.values[item]->setText(present ? itemText(static_cast<Item>(item), module)
                                              : QString());
    }
    if (!present) widgets.values[Status]->setText(QStringLiteral("Absent"));
    if (!present || module.diagnosticsType == 4) {
        clearDiagnostics(port);
        return;
    }
    using SfpTexts::Quantity;
    const NettlebeamApiSfpThresholds* columns[ColumnCount] = {
        &module.lowAlarm, &module.lowWarning, &module.highWarning, &module.highAlarm, nullptr};
    const NettlebeamApiSfpThresholds values = measurements(module);
    // Without alarm and warning flags the module has no thresholds either.
    const bool flagged = module.enhancedOptions[0] != 1;
    for (int q = 0; q < SfpTexts::kQuantities; ++q) {
        const auto quantity = static_cast<Quantity>(q);
        for (int column = 0; column < ColumnCount; ++column) {
            const NettlebeamApiSfpThresholds* source = column == Value ? &values : columns[column];
            const bool shown = column == Value || flagged;
            widgets.diagnostics[q][column]->setText(
                shown ? SfpTexts::measurement(quantity, SfpTexts::quantityOf(*source, quantity))
                      : QString());
        }
    }
    widgets.warnings->setText(flagged ? SfpTexts::warnings(module.alarmFlags) : QString());
    widgets.alarms->setText(flagged ? SfpTexts::alarms(module.alarmFlags) : QString());
    widgets.statusBits->setText(flagged ? SfpTexts::statusBits(module.alarmFlags) : QString());
}

void SFPDisplay::clearDiagnostics(int port) {
    PortWidgets& widgets = ports_[port];
    for (auto& row : widgets.diagnostics) {
        for (QLabel* label : row) label->clear();
    }
    widgets.warnings->clear();
    widgets.alarms->clear();
    widgets.statusBits->clear();
}

QString SFPDisplay::itemText(Item item, const NettlebeamApiSfpModule& module) {
    using namespace SfpTexts;
    switch (item) {
        case Status:
            return QStringLiteral("Present");
        case VendorName:
            return text(module.vendorName, sizeof module.vendorName);
        case VendorOui:
            return vendorOui(module.vendorOui);
        case Model:
            return text(module.partNumber, sizeof module.partNumber);
        case Revision:
            return text(module.revision, sizeof module.revision);
        case DateCode:
            return text(module.dateCode, sizeof module.dateCode);
        case SerialNumber:
            return text(module.serialNumber, sizeof module.serialNumber);
        case BitrateNominal:
            return bitRate(module.bitRateNominal);
        case UpperMargin:
            return margin(module.bitRateMax);
        case LowerMargin:
            return margin(module.bitRateMin);
        case Encoding:
            return encoding(module.encoding);
        case RateId:
            return rateIdentifier(module.rateIdentifier);
        case Identifier:
            return identifier(module.identifier);
        case ExtIdentifier:
            return extIdentifier(module.extIdentifier);
        case Connector:
            return connector(module.connector);
        case Wavelength:
            return wavelength(module.wavelength);
        case MonitoringType:
            return monitoringType(module.diagnosticsType);
        case Compliance:
            return compliance(module.complianceLevel);
        case LengthSmf:
            return singleModeLength(module.lengthSmf);
        case LengthOm2:
            return fibreLength(module.lengthOm2);
        case LengthOm1:
            return fibreLength(module.lengthOm1);
        case LengthCopper:
            return copperLength(module.lengthCopper);
        case LengthOm3:
            return fibreLength(module.lengthOm3);
        case ItemCount:
            break;
    }
    return {};
}

void SFPDisplay::slot_ShowTransceiverA() {
    showTransceiver(0);
}

void SFPDisplay::slot_ShowTransceiverB() {
    showTransceiver(1);
}

void SFPDisplay::slot_ShowOptionsA() {
    showOptions(0);
}

void SFPDisplay::slot_ShowOptionsB() {
    showOptions(1);
}

// The dialogs take a copy of the port's entry and do not follow later refreshes.
void SFPDisplay::showTransceiver(int port) {
    auto* dialog = new SFPTransceiver(this, modules_[port]);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void SFPDisplay::showOptions(int port) {
    auto* dialog = new SFPOptions(this, modules_[port]);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}
