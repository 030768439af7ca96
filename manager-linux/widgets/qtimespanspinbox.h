// A spin box whose value is a number of seconds, shown and typed as
// hours:minutes:seconds ("01:02:05"). Missing parts count as 0, so "90" is
// 90 hours and "1:30" is 1 hour 30 minutes.
#pragma once

#include <QSpinBox>

class QTimespanSpinBox : public QSpinBox {
    Q_OBJECT

  public:
    explicit QTimespanSpinBox(QWidget* parent = nullptr);

    // At most three ':'-separated parts; each non-empty part is a decimal
    // number, minutes and seconds below 60. Never Intermediate.
    QValidator::State validate(QString& text, int& position) const override;

  protected:
    int valueFromText(const QString& text) const override;
    QString textFromValue(int value) const override;
};
