// Accepts what may be typed into a MAC field with wildcards: at most six
// ':'-separated parts, each empty, "*", "**" or up to two hexadecimal digits.
// A text that is only partly typed ("aa:bb") is acceptable here; the filter
// reports it when applied.
#pragma once

#include <QValidator>

class QMacValidator : public QValidator {
    Q_OBJECT
  public:
    explicit QMacValidator(QObject* parent);

    // Invalid or Acceptable, never Intermediate.
    State validate(QString& text, int& position) const override;
};
