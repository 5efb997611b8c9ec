#pragma once

#include <QByteArray>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quill::test {

struct RecordedAttach {
    const void* data = nullptr;
    int length = 0;
    std::optional<std::string> password;  // nullopt for a null pointer
    int hue = 0;
    int saturation = 0;
    int brightness = 0;
};

// What the test images reported through ImageHooks.h.
struct ImageLog {
    std::string events;
    std::vector<RecordedAttach> attaches;
    int detaches = 0;
};

ImageLog& imageLog();

// A test image built with the tests: "answer_a", "answer_b" (AnswerImage.cpp
// as image A and B), "missing_import", "recorder".
QByteArray testImage(const QString& name);

inline std::span<const std::byte> bytes(const QByteArray& block) {
    return std::as_bytes(std::span(block.constData(), std::size_t(block.size())));
}

}  // namespace quill::test
