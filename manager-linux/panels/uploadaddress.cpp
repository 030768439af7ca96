#include "uploadaddress.h"

#include <QFileInfo>
#include <QStringList>
#include <algorithm>

namespace UploadAddress {

QUrl uploadUrl(const QString& base, const QString& token, const QString& filePath) {
    QString root = base.trimmed();
    while (root.endsWith('/')) root.chop(1);
    QUrl url(root + QStringLiteral("/api/v1/") + token + QStringLiteral("/upload"),
             QUrl::TolerantMode);
    const QByteArray name = QUrl::toPercentEncoding(QFileInfo(filePath).fileName());
    url.setQuery(QStringLiteral("filename=") + QString::fromLatin1(name), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty()) return QUrl();
    return url;
}

QString maskToken(const QString& text, const QString& token) {
    if (token.isEmpty()) return text;
    // The token as the path of a URL holds it, in each of Qt's spellings.
    const QUrl asPath(QStringLiteral("http://h/") + token, QUrl::TolerantMode);
    QStringList spellings{token, QString::fromLatin1(QUrl::toPercentEncoding(token)),
                          asPath.path(QUrl::FullyEncoded).mid(1),
                          asPath.path(QUrl::PrettyDecoded).mid(1),
                          asPath.path(QUrl::FullyDecoded).mid(1)};
    // Longest first, so that no part of a longer spelling is left behind.
    std::sort(spellings.begin(), spellings.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    QString masked = text;
    for (const QString& spelling : spellings)
        if (!spelling.isEmpty()) masked.replace(spelling, QStringLiteral("****"));
    return masked;
}

}  // namespace UploadAddress
