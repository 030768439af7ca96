// Accepts what may be typed into an address field with wildcards: dotted
// IPv4 parts ("", "*", "**" or a decimal number below 256, at most four
// parts) and IPv6 groups of hexadecimal digits and '*'. A text that is only
// partly typed ("10.1") is acceptable here; the filter reports it when applied.
#pragma once

#include <QValidator>

class QIpValidator : public QValidator {
    Q_OBJECT
  public:
    QIpValidator(QObject* parent, bool allowIpv4, bool allowIpv6);

    // Invalid or Acceptable, never Intermediate.
    State validate(QString& text, int& position) const override;

  private:
    bool acceptsIpv4(const QString& text) const;
    bool acceptsIpv6(const QString& text) const;

    bool allowIpv4_;
    bool allowIpv6_;
};
