#pragma once

#include <QStringList>
#include <map>
#include <vector>

#include "core/Form.h"

namespace quill::test {

// An in-memory main window for flow tests that need no widgets. It starts
// in the window's initial state.
class FakeForm : public Form {
public:
    FakeForm();

    QString text(Control c) const override;
    void setText(Control c, const QString& text) override;
    int authIndex() const override { return authIndex_; }
    void setAuthIndex(int index) { authIndex_ = index; }
    bool isEnabled(Control c) const override;
    void setEnabled(Control c, bool enabled) override;
    QString status(int part) const override;
    void setStatus(int part, const QString& text) override;
    void setStatusToolTip(int part, const QString& tip) override;
    QString statusToolTip(int part) const;
    void clearList() override;
    int appendListRow(const QString& column0) override;
    void setListCell(int row, int column, const QString& text) override;
    QString listCell(int row, int column) const override;
    int listRowCount() const override { return int(rows_.size()); }
    int selectedListRow() const override { return selected_; }
    void selectListRow(int row) { selected_ = row; }
    void appendLog(const QString& text) override;

private:
    std::map<Control, QString> texts_;
    std::map<Control, bool> enabled_;
    QString status_[2];
    QString tips_[2];
    std::vector<QStringList> rows_;
    int selected_ = -1;
    int authIndex_ = 0;
};

}  // namespace quill::test
