#include "sfpoptions.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "sfptexts.h"

SFPOptions::SFPOptions(QWidget* parent, const NettlebeamApiSfpModule& module) : QDialog(parent) {
    setWindowTitle(QStringLiteral("SFP Module Options"));
    auto* layout = new QVBoxLayout(this);
    const QString titles[] = {QStringLiteral("SFP Options"),
                              QStringLiteral("SFP Enhanced Options")};
    for (int group = 0; group < 2; ++group) {
        auto* box = new QGroupBox(titles[group], this);
        auto* grid = new QGridLayout(box);
        for (int line = 0; line < SfpTexts::kOptionsPerGroup; ++line) {
            const int row = group * SfpTexts::kOptionsPerGroup + line;
            grid->addWidget(new QLabel(SfpTexts::optionCaption(row), box), line, 0);
            auto* value =
                new QLabel(SfpTexts::optionValue(row, SfpTexts::optionField(module, row)), box);
            value->setObjectName(QStringLiteral("optionValue%1").arg(row));
            grid->addWidget(value, line, 1);
        }
        layout->addWidget(box);
    }
}
