// A modal plain-text editor for one of the add-on's configuration files. The
// file is read when the dialog is built; a file that cannot be read (not a
// regular file, too large, a symbolic link) is reported and the dialog still
// opens, empty and read-only, and never writes it. OK writes the file only
// when the text was changed, and then only the changed stretch differs from
// the file's old bytes; Cancel and an unchanged OK leave the disk alone, a
// missing file included.
#pragma once

#include <QDialog>
#include <QString>

#include "configfiletext.h"

namespace Ui {
class ConfigFileEditor;
}

class ConfigFileEditor : public QDialog {
    Q_OBJECT
  public:
    // A leading "~/" in `path` stands for the user's home folder.
    ConfigFileEditor(const QString& path, QWidget* parent = nullptr);
    ~ConfigFileEditor() override;

    QString path() const { return path_; }

  public slots:
    // Saves a changed text, then closes with Accepted whether or not the
    // save succeeded.
    void accept() override;

  private:
    void load();
    QString editedText() const;
    void showFailure(const QString& text);

    QString path_;
    ConfigFileText loaded_;
    bool readable_ = true;
    Ui::ConfigFileEditor* ui;
};
