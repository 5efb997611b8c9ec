#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/QtChoices.h"

using namespace quill;

namespace {

// Runs `act` on the dialog once it is up, then returns what choose() answered.
int chooseAndAct(const QStringList& options, const std::function<void(QDialog*)>& act) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            poll.stop();
            act(dialog);
        }
    });
    poll.start(5);
    QtChoices choices;
    return choices.choose("继续上次执行", "<b>a.sql</b>\r\n第二行", options);
}

QAbstractButton* buttonNamed(QDialog* dialog, const QString& text) {
    for (auto* b : dialog->findChildren<QAbstractButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

TEST(QtChoices, AFewOptionsAreButtonsAndEscapeDismisses) {
    const QStringList options{"从第 401 批继续（第 1604 行）", "从头执行"};
    QString text, defaultText;
    EXPECT_EQ(chooseAndAct(options,
                           [&](QDialog* d) {
                               auto* box = qobject_cast<QMessageBox*>(d);
                               text = box->text();
                               defaultText = box->defaultButton()->text();
                               buttonNamed(d, "从头执行")->click();
                           }),
              1);
    EXPECT_EQ(text, "<b>a.sql</b>\n第二行");
    EXPECT_EQ(defaultText, options[0]);
    EXPECT_EQ(chooseAndAct(options, [](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }), -1);
}

TEST(QtChoices, ManyOptionsAreAListWithTheFirstTaken) {
    const QStringList pages{"936", "54936", "950", "1252", "932"};
    EXPECT_EQ(chooseAndAct(pages, [](QDialog* d) { buttonNamed(d, "确定")->click(); }), 0);
    EXPECT_EQ(chooseAndAct(pages,
                           [](QDialog* d) {
                               d->findChild<QListWidget*>("choices")->setCurrentRow(2);
                               buttonNamed(d, "确定")->click();
                           }),
              2);
    EXPECT_EQ(chooseAndAct(pages, [](QDialog* d) { buttonNamed(d, "取消")->click(); }), -1);
}

}  // namespace
