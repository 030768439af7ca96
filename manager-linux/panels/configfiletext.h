// The text of a configuration file as the editor shows it, tied to the
// file's bytes so that a save rewrites only what the user changed: line
// endings, bytes that are not UTF-8 (a Latin-1 file) and characters the
// editor would otherwise turn into others come back exactly as they were
// wherever the user did not type.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

class ConfigFileText {
  public:
    explicit ConfigFileText(const QByteArray& bytes = QByteArray());

    // Shown in the editor: UTF-8 where the bytes are UTF-8, any other byte
    // as its Latin-1 character, every line ending as "\n".
    const QString& text() const { return text_; }

    // The file's bytes for `edited` (text() after the user's changes): the
    // original bytes before and after the changed stretch, the changed
    // stretch in the file's encoding and line endings. The original bytes
    // when nothing changed.
    QByteArray bytesFor(const QString& edited) const;

  private:
    QByteArray encode(const QString& text) const;

    QByteArray bytes_;
    QString text_;
    // offsets_[i] is the byte where text_[i] begins; the last entry is the size.
    std::vector<int> offsets_;
    bool utf8_ = true;   // no byte needed the Latin-1 reading
    bool crlf_ = false;  // the first line ends with CR LF
};
