#include "configfileeditor.h"

#include <QFile>
#include <QFontDatabase>
#include <QMessageBox>

#include "ui_configfileeditor.h"
#include "widgethelpers.h"

ConfigFileEditor::ConfigFileEditor(const QString& path, QWidget* parent)
    : QDialog(parent), path_(expandHome(path)), ui(new Ui::ConfigFileEditor) {
    ui->setupUi(this);
    // Configuration files line up in columns and keep their lines whole.
    ui->TextEditor->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ui->TextEditor->setLineWrapMode(QPlainTextEdit::NoWrap);
    load();
}

ConfigFileEditor::~ConfigFileEditor() {
    delete ui;
}

// Opened for writing too, so a file the user may not change is reported now,
// before any editing.
void ConfigFileEditor::load() {
    QFile file(path_);
    const bool opened = file.open(QIODevice::ReadWrite | QIODevice::Text);
    if (opened) ui->TextEditor->setPlainText(QString::fromUtf8(file.readAll()));
    if (!opened || file.error() != QFileDevice::NoError) {
        showFailure(QStringLiteral("Failed to open configuration file '%1' : %2")
                        .arg(path_, file.errorString()));
    }
}

bool ConfigFileEditor::save(QString* error) {
    QFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray text = ui->TextEditor->toPlainText().toUtf8();
    if (file.write(text) != text.size() || !file.flush()) {
        *error = file.errorString();
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    return true;
}

void ConfigFileEditor::accept() {
    QString error;
    if (!save(&error)) {
        showFailure(QStringLiteral("Failed to save configuration to '%1' : %2").arg(path_, error));
    }
    QDialog::accept();
}

void ConfigFileEditor::showFailure(const QString& text) {
    QMessageBox::critical(this, QStringLiteral("Edit file"), text);
}
