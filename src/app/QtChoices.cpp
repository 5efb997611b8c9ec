#include "app/QtChoices.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace quill {

namespace {

constexpr int kMostButtons = 3;

QString plain(const QString& text) {
    return QString(text).replace("\r\n", "\n");
}

int chooseByButton(const QString& caption, const QString& text, const QStringList& options) {
    QMessageBox box;
    box.setWindowTitle(caption);
    // Texts may carry file names: never let them pass as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(plain(text));
    box.setIcon(QMessageBox::Question);
    box.setWindowModality(Qt::ApplicationModal);
    QList<QAbstractButton*> buttons;
    for (const QString& option : options)
        buttons << box.addButton(option, QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.value(0)));
    box.setEscapeButton(cancel);
    box.exec();
    return int(buttons.indexOf(box.clickedButton()));
}

int chooseFromList(const QString& caption, const QString& text, const QStringList& options) {
    QDialog dialog;
    dialog.setWindowTitle(caption);
    dialog.setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(plain(text));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* list = new QListWidget;
    list->setObjectName("choices");
    list->addItems(options);
    list->setCurrentRow(0);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return list->currentRow();
}

}  // namespace

int QtChoices::choose(const QString& caption, const QString& text, const QStringList& options) {
    if (options.isEmpty())
        return -1;
    if (options.size() <= kMostButtons)
        return chooseByButton(caption, text, options);
    return chooseFromList(caption, text, options);
}

}  // namespace quill
