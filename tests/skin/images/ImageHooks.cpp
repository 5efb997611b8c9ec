#include "ImageHooks.h"

#include <QFile>

#include "TestImages.h"

namespace quill::test {

ImageLog& imageLog() {
    static ImageLog log;
    return log;
}

QByteArray testImage(const QString& name) {
    QFile file(QStringLiteral(QUILL_TEST_IMAGE_DIR "/libquill_test_%1.so").arg(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace quill::test

using quill::test::imageLog;

extern "C" {

void quill_test_event(char event) {
    imageLog().events += event;
}

void quill_test_record_attach(const QuillTestAttachCall* call) {
    quill::test::RecordedAttach recorded{call->data, call->length,     std::nullopt,
                                         call->hue,  call->saturation, call->brightness};
    if (call->password)
        recorded.password = call->password;
    imageLog().attaches.push_back(recorded);
}

void quill_test_record_detach() {
    ++imageLog().detaches;
}
}
