#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <functional>

#include "app/QtMessageBoxes.h"
#include "app/Startup.h"

using namespace quill;

namespace {

// Runs `act` on the box once it is up, then returns what show() answered.
int showAndAct(const QString& text, unsigned flags, const std::function<void(QMessageBox*)>& act) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll.stop();
            act(box);
        }
    });
    poll.start(5);
    QtMessageBoxes boxes;
    return boxes.show(text, "标题", flags);
}

}  // namespace

TEST(QtMessageBoxes, ButtonsIconsAndAnswersFollowTheFlags) {
    using B = QMessageBox::StandardButton;
    struct Case {
        unsigned flags;
        QMessageBox::StandardButtons buttons;
        QMessageBox::Icon icon;
        B press;
        int answer;
    };
    const Case cases[] = {
        {mb::Ok, QMessageBox::Ok, QMessageBox::NoIcon, B::Ok, IdOk},
        {mb::OkCancel | mb::IconExclamation, QMessageBox::Ok | QMessageBox::Cancel,
         QMessageBox::Warning, B::Cancel, IdCancel},
        {mb::OkCancel | mb::IconExclamation, QMessageBox::Ok | QMessageBox::Cancel,
         QMessageBox::Warning, B::Ok, IdOk},
        {mb::AbortRetryIgnore | mb::IconError,
         QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore, QMessageBox::Critical,
         B::Abort, IdAbort},
        {mb::AbortRetryIgnore, QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore,
         QMessageBox::NoIcon, B::Retry, IdRetry},
        {mb::AbortRetryIgnore, QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore,
         QMessageBox::NoIcon, B::Ignore, IdIgnore},
        {mb::YesNoCancel | mb::IconQuestion,
         QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Question, B::Cancel,
         IdCancel},
        {mb::YesNo | mb::IconExclamation, QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning,
         B::Yes, IdYes},
        {mb::YesNo | mb::IconExclamation, QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning,
         B::No, IdNo},
        {mb::RetryCancel | mb::IconInformation, QMessageBox::Retry | QMessageBox::Cancel,
         QMessageBox::Information, B::Retry, IdRetry},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        QMessageBox::StandardButtons seen;
        QMessageBox::Icon icon{};
        const int answer = showAndAct("text", c.flags, [&](QMessageBox* box) {
            seen = box->standardButtons();
            icon = box->icon();
            box->button(c.press)->click();
        });
        EXPECT_EQ(seen, c.buttons);
        EXPECT_EQ(icon, c.icon);
        EXPECT_EQ(answer, c.answer);
    }
}

TEST(QtMessageBoxes, BoxIsOwnerlessModalPlainTextWithTheFirstButtonDefault) {
    QWidget* parent = nullptr;
    bool seen = false;
    Qt::WindowModality modality{};
    QString text, title;
    Qt::TextFormat format{};
    QAbstractButton* def = nullptr;
    QAbstractButton* yes = nullptr;
    showAndAct("<b>db</b>\r\n第二行", mb::YesNo | mb::IconExclamation, [&](QMessageBox* box) {
        seen = true;
        parent = box->parentWidget();
        modality = box->windowModality();
        text = box->text();
        title = box->windowTitle();
        format = box->textFormat();
        def = box->defaultButton();
        yes = box->button(QMessageBox::Yes);
        box->button(QMessageBox::No)->click();
    });
    ASSERT_TRUE(seen);
    EXPECT_EQ(parent, nullptr);
    EXPECT_EQ(modality, Qt::ApplicationModal);
    EXPECT_EQ(text, "<b>db</b>\n第二行");
    EXPECT_EQ(title, "标题");
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(def, yes);
}

TEST(QtMessageBoxes, EscapeCancelsOrAcknowledges) {
    auto escape = [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); };
    EXPECT_EQ(showAndAct("?", mb::OkCancel | mb::IconExclamation | mb::TaskModal, escape),
              IdCancel);
    EXPECT_EQ(showAndAct("!", mb::Ok, escape), IdOk);
}

TEST(QtMessageBoxes, TaskModalIsAddedUnlessSystemModalIsAsked) {
    EXPECT_EQ(effectiveBoxFlags(0x0), 0x2000u);
    EXPECT_EQ(effectiveBoxFlags(0x34), 0x2034u);
    EXPECT_EQ(effectiveBoxFlags(0x2031), 0x2031u);
    EXPECT_EQ(effectiveBoxFlags(0x1040), 0x1040u);

    bool onTop = false;
    showAndAct("!", mb::Ok | mb::SystemModal, [&](QMessageBox* box) {
        onTop = box->windowFlags() & Qt::WindowStaysOnTopHint;
        box->accept();
    });
    EXPECT_TRUE(onTop);
}

TEST(QtMessageBoxes, ButtonsSpeakChineseWithQtsOwnTranslations) {
    QTranslator* chinese = installQtChinese(*qApp);
    ASSERT_NE(chinese, nullptr) << "Qt's translations (qt6-translations-l10n) are not installed";
    auto texts = [](unsigned flags) {
        QStringList seen;
        showAndAct("?", flags, [&](QMessageBox* box) {
            for (QAbstractButton* b : box->buttons())
                seen << b->text();
            box->buttons().front()->click();
        });
        seen.sort();
        return seen;
    };
    const QStringList okCancel = texts(mb::OkCancel);
    const QStringList yesNo = texts(mb::YesNo);
    QCoreApplication::removeTranslator(chinese);
    EXPECT_EQ(okCancel, (QStringList{"取消", "确定"}));
    // Yes and No keep their keyboard mnemonics.
    EXPECT_EQ(yesNo, (QStringList{"否(&N)", "是(&Y)"}));
}
