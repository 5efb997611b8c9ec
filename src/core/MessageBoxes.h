#pragma once

#include <QString>

namespace quill {

// Message box flags and answers in the numbering the program's texts use.
namespace mb {
constexpr unsigned Ok = 0x0;
constexpr unsigned OkCancel = 0x1;
constexpr unsigned AbortRetryIgnore = 0x2;
constexpr unsigned YesNoCancel = 0x3;
constexpr unsigned YesNo = 0x4;
constexpr unsigned RetryCancel = 0x5;
constexpr unsigned IconError = 0x10;
constexpr unsigned IconQuestion = 0x20;
constexpr unsigned IconExclamation = 0x30;
constexpr unsigned IconInformation = 0x40;
constexpr unsigned SystemModal = 0x1000;
constexpr unsigned TaskModal = 0x2000;

constexpr unsigned ButtonMask = 0xF;
constexpr unsigned IconMask = 0xF0;
}  // namespace mb

enum Answer : int {
    IdOk = 0,
    IdCancel = 1,
    IdAbort = 2,
    IdRetry = 3,
    IdIgnore = 4,
    IdYes = 5,
    IdNo = 6
};

// Every message box of the program goes through this, so tests can answer them.
// Boxes have no owner window and are application-modal; TaskModal is added
// unless SystemModal is asked for. Returns an Answer.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual int show(const QString& text, const QString& caption, unsigned flags) = 0;
};

}  // namespace quill
