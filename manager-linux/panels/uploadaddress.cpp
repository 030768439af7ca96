#include "uploadaddress.h"

#include <QFileInfo>
#include <QStringList>
#include <algorithm>

namespace UploadAddress {

namespace {

const QString kBefore = QStringLiteral("/api/v1/");
const QString kAfter = QStringLiteral("/upload");

// The token as one path segment: every character but the unreserved ones
// encoded, so that "/", "?", "#", "%" or a space stay part of it.
QString tokenSegment(const QString& token) {
    return QString::fromLatin1(QUrl::toPercentEncoding(token));
}

}  // namespace

QUrl uploadUrl(const QString& base, const QString& token, const QString& filePath) {
    QString root = base.trimmed();
    while (root.endsWith('/')) root.chop(1);
    QUrl url(root + kBefore + tokenSegment(token) + kAfter, QUrl::TolerantMode);
    const QByteArray name = QUrl::toPercentEncoding(QFileInfo(filePath).fileName());
    url.setQuery(QStringLiteral("filename=") + QString::fromLatin1(name), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty()) return QUrl();
    return url;
}

QString maskToken(const QString& text, const QString& token) {
    if (token.isEmpty()) return text;
    // Every spelling of the token a text about the request can hold: as
    // typed, as the segment is sent, and as Qt prints or decodes that path.
    const QUrl url(QStringLiteral("http://h") + kBefore + tokenSegment(token) + kAfter,
                   QUrl::TolerantMode);
    QStringList spellings{token, tokenSegment(token)};
    QStringList quoted{url.toString(QUrl::FullyEncoded), url.toString(), url.toDisplayString()};
    for (QUrl::ComponentFormattingOptions format :
         {QUrl::ComponentFormattingOptions(QUrl::FullyEncoded),
          QUrl::ComponentFormattingOptions(QUrl::PrettyDecoded),
          QUrl::ComponentFormattingOptions(QUrl::FullyDecoded)})
        quoted << url.path(format);
    for (const QString& text : quoted) {
        const int from = text.indexOf(kBefore) + kBefore.size();
        const int to = text.lastIndexOf(kAfter);
        if (from >= kBefore.size() && to >= from) spellings << text.mid(from, to - from);
    }
    // Longest first, so that no part of a longer spelling is left behind;
    // the hexadecimal digits of an encoding may come in either case.
    std::sort(spellings.begin(), spellings.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    QString masked = text;
    for (const QString& spelling : spellings)
        if (!spelling.isEmpty())
            masked.replace(spelling, QStringLiteral("****"), Qt::CaseInsensitive);
    return masked;
}

}  // namespace UploadAddress
