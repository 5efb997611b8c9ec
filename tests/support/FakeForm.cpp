#include "support/FakeForm.h"

namespace quill::test {

FakeForm::FakeForm() {
    texts_[Control::编辑框1] = "127.0.0.1";
    texts_[Control::编辑框2] = "Administrator";
    texts_[Control::编辑框5] = "请将SQL脚本用鼠标拖入此处";
    texts_[Control::按钮4] = "执行SQL脚本";
    enabled_[Control::编辑框2] = false;
    enabled_[Control::编辑框3] = false;
    enabled_[Control::按钮3] = false;
    enabled_[Control::按钮4] = false;
}

QString FakeForm::text(Control c) const {
    auto it = texts_.find(c);
    return it == texts_.end() ? QString() : it->second;
}

void FakeForm::setText(Control c, const QString& text) {
    texts_[c] = text;
}

bool FakeForm::isEnabled(Control c) const {
    auto it = enabled_.find(c);
    return it == enabled_.end() ? true : it->second;
}

void FakeForm::setEnabled(Control c, bool enabled) {
    enabled_[c] = enabled;
}

QString FakeForm::status(int part) const {
    return part == 0 || part == 1 ? status_[part] : QString();
}

void FakeForm::setStatus(int part, const QString& text) {
    if (part == 0 || part == 1)
        status_[part] = text;
}

void FakeForm::setStatusToolTip(int part, const QString& tip) {
    if (part == 0 || part == 1)
        tips_[part] = tip;
}

QString FakeForm::statusToolTip(int part) const {
    return part == 0 || part == 1 ? tips_[part] : QString();
}

void FakeForm::clearList() {
    rows_.clear();
    selected_ = -1;
}

int FakeForm::appendListRow(const QString& column0) {
    rows_.push_back({column0, QString()});
    return int(rows_.size()) - 1;
}

void FakeForm::setListCell(int row, int column, const QString& text) {
    if (row >= 0 && row < int(rows_.size()) && (column == 0 || column == 1))
        rows_[row][column] = text;
}

QString FakeForm::listCell(int row, int column) const {
    if (row < 0 || row >= int(rows_.size()) || column < 0 || column > 1)
        return {};
    return rows_[row][column];
}

void FakeForm::appendLog(const QString& text) {
    texts_[Control::编辑框4] += text;
}

}  // namespace quill::test
