#include "sfptransceiver.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>

#include "sfptexts.h"

namespace {

// Group boxes are placed column by column, in this many columns.
constexpr int kColumns = 3;
constexpr int kGroupsPerColumn = (SfpTexts::kTransceiverGroups + kColumns - 1) / kColumns;

}  // namespace

SFPTransceiver::SFPTransceiver(QWidget* parent, const NettlebeamApiSfpModule& module)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Transceiver"));
    auto* layout = new QGridLayout(this);
    int indicator = 0;
    for (int group = 0; group < SfpTexts::kTransceiverGroups; ++group) {
        auto* box = new QGroupBox(SfpTexts::transceiverGroupTitle(group), this);
        auto* grid = new QGridLayout(box);
        for (int row = 0; row < SfpTexts::transceiverGroupSize(group); ++row, ++indicator) {
            grid->addWidget(new QLabel(SfpTexts::transceiverCaption(indicator), box), row, 0);
            auto* value = new QLabel(SfpTexts::transceiverValue(module, indicator), box);
            value->setObjectName(QStringLiteral("indicator%1").arg(indicator));
            grid->addWidget(value, row, 1);
        }
        layout->addWidget(box, group % kGroupsPerColumn, group / kGroupsPerColumn);
    }
    layout->setRowStretch(kGroupsPerColumn, 1);
}
