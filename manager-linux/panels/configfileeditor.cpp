#include "configfileeditor.h"

#include <QFontDatabase>
#include <QMessageBox>
#include <QTextDocument>

#include "configfilestore.h"
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

// A missing file is an empty one that OK may create. What could not be read
// is never written: the user has not seen what it holds.
void ConfigFileEditor::load() {
    QByteArray bytes;
    QString error;
    if (ConfigFileStore::read(path_, &bytes, &error) == ConfigFileStore::ReadResult::Failed) {
        readable_ = false;
        ui->TextEditor->setReadOnly(true);
        showFailure(
            QStringLiteral("Failed to open configuration file '%1' : %2").arg(path_, error));
    }
    loaded_ = ConfigFileText(bytes);
    ui->TextEditor->setPlainText(loaded_.text());
}

// The document's own text: toPlainText() would turn no-break spaces into
// spaces, which the user never typed.
QString ConfigFileEditor::editedText() const {
    QString text = ui->TextEditor->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

void ConfigFileEditor::accept() {
    const QString edited = editedText();
    QString error;
    if (readable_ && edited != loaded_.text() &&
        !ConfigFileStore::write(path_, loaded_.bytesFor(edited), &error)) {
        showFailure(QStringLiteral("Failed to save configuration to '%1' : %2").arg(path_, error));
    }
    QDialog::accept();
}

void ConfigFileEditor::showFailure(const QString& text) {
    QMessageBox::critical(this, QStringLiteral("Edit file"), text);
}
