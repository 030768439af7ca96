// A modal plain-text editor for one of the add-on's configuration files. The
// file is loaded when the dialog is built and written back on OK; a file
// that cannot be opened for reading and writing is reported, and the dialog
// still opens with whatever was read.
#pragma once

#include <QDialog>
#include <QString>

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
    // Saves, then closes with Accepted whether or not the save succeeded.
    void accept() override;

  private:
    void load();
    bool save(QString* error);
    void showFailure(const QString& text);

    QString path_;
    Ui::ConfigFileEditor* ui;
};
