#include "sfptransceiver.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "sfptexts.h"

namespace {

// Group boxes are placed column by column, in this many columns.
constexpr int kColumns = 3;
constexpr int kGroupsPerColumn = (SfpTexts::kTransceiverGroups + kColumns - 1) / kColumns;

}  // namespace

SFPTransceiver::SFPTransceiver(QWidget* parent, const NettlebeamApiSfpModule& module)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Transceiver"));
    auto* layout = new QHBoxLayout(this);
    QVBoxLayout* column = nullptr;
    int indicator = 0;
    for (int group = 0; group < SfpTexts::kTransceiverGroups; ++group) {
        if (group % kGroupsPerColumn == 0) {
            if (column) column->addStretch(1);
            column = new QVBoxLayout;
            layout->addLayout(column);
        }
        const QString title = SfpTexts::transceiverGroupTitle(group);
        auto* box = new QGroupBox(title, this);
        auto* grid = new QGridLayout(box);
        grid->setVerticalSpacing(2);
        grid->setColumnStretch(0, 1);
        for (int row = 0; row < SfpTexts::transceiverGroupSize(group); ++row, ++indicator) {
            grid->addWidget(new QLabel(SfpTexts::transceiverCaption(indicator), box), row, 0);
            auto* value = new QLabel(SfpTexts::transceiverValue(module, indicator), box);
            value->setObjectName(QStringLiteral("indicator%1").arg(indicator));
            grid->addWidget(value, row, 1);
        }
        // The box is at least as wide as its title.
        box->setMinimumWidth(std::max(box->minimumSizeHint().width(),
                                      box->fontMetrics().horizontalAdvance(title) + 40));
        column->addWidget(box);
    }
    column->addStretch(1);
}
