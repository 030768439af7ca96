// The appliance's upload address, and the error texts that quote it with the
// API token (a secret) masked.
#pragma once

#include <QString>
#include <QUrl>

namespace UploadAddress {

// <base>/api/v1/<token>/upload?filename=<name of the file without its folder>,
// parsed tolerantly. Trailing slashes of the base are dropped; the token is
// percent-encoded as one path segment and the name as one query value, so
// that "/", "?", "&", "#", "+" or a space in them stay part of them. The
// result is invalid unless it is absolute with a host.
QUrl uploadUrl(const QString& base, const QString& token, const QString& filePath);

// `text` with every spelling of `token` a URL text can hold (as typed,
// percent-encoded, as Qt prints or decodes it) replaced by "****".
QString maskToken(const QString& text, const QString& token);

}  // namespace UploadAddress
