#include <gtest/gtest.h>

#include <elf.h>

#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstring>
#include <functional>
#include <limits>

#include "TestImages.h"
#include "app/skin/EmbeddedBlocks.h"
#include "app/skin/MemoryLoader.h"
#include "app/skin/SkinApi.h"

using namespace quill::skin;
using quill::test::bytes;
using quill::test::imageLog;
using quill::test::testImage;

namespace {

// Traces of loaded images: mappings and descriptors of the memory files.
int memoryFileTraces() {
    int traces = 0;
    QFile maps("/proc/self/maps");
    if (maps.open(QIODevice::ReadOnly))
        traces += int(maps.readAll().count("/memfd:quillskin"));
    for (const QFileInfo& fd :
         QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget().contains("memfd:quillskin"))
            ++traces;
    return traces;
}

Elf64_Ehdr header(const QByteArray& image) {
    Elf64_Ehdr h;
    std::memcpy(&h, image.constData(), sizeof h);
    return h;
}

QByteArray withHeader(QByteArray image, const std::function<void(Elf64_Ehdr&)>& change) {
    Elf64_Ehdr h = header(image);
    change(h);
    std::memcpy(image.data(), &h, sizeof h);
    return image;
}

// The section count moved to the first section header, as for more than
// 0xff00 sections.
QByteArray withExtendedSectionCount(QByteArray image, std::uint64_t count) {
    Elf64_Ehdr h = header(image);
    std::memcpy(image.data() + h.e_shoff + offsetof(Elf64_Shdr, sh_size), &count, sizeof count);
    return withHeader(image, [](Elf64_Ehdr& e) { e.e_shnum = 0; });
}

class MemoryLoaderTest : public testing::Test {
protected:
    void SetUp() override {
        imageA = testImage("answer_a");
        imageB = testImage("answer_b");
        ASSERT_FALSE(imageA.isEmpty());
        ASSERT_FALSE(imageB.isEmpty());
        imageLog() = {};
    }

    QByteArray imageA, imageB;
};

}  // namespace

TEST_F(MemoryLoaderTest, RefusesImagesFailingEachCheck) {
    const Elf64_Ehdr h = header(imageA);
    const auto size = std::uint64_t(imageA.size());
    struct Case {
        const char* what;
        QByteArray image;
        ImageCheck expected;
    };
    const Case cases[] = {
        {"63 bytes", imageA.left(63), ImageCheck::TooShort},
        {"no magic", withHeader(imageA, [](Elf64_Ehdr& e) { e.e_ident[EI_MAG1] = 'X'; }),
         ImageCheck::NotElf},
        {"32-bit", withHeader(imageA, [](Elf64_Ehdr& e) { e.e_ident[EI_CLASS] = ELFCLASS32; }),
         ImageCheck::WrongClass},
        {"big endian", withHeader(imageA, [](Elf64_Ehdr& e) { e.e_ident[EI_DATA] = ELFDATA2MSB; }),
         ImageCheck::WrongByteOrder},
        {"other machine", withHeader(imageA, [](Elf64_Ehdr& e) { e.e_machine = EM_RISCV; }),
         ImageCheck::WrongMachine},
        {"executable", withHeader(imageA, [](Elf64_Ehdr& e) { e.e_type = ET_EXEC; }),
         ImageCheck::NotSharedObject},
        {"relocatable", withHeader(imageA, [](Elf64_Ehdr& e) { e.e_type = ET_REL; }),
         ImageCheck::NotSharedObject},
        {"program headers past the end",
         withHeader(imageA, [&](Elf64_Ehdr& e) { e.e_phoff = size - 8; }),
         ImageCheck::BadProgramHeaders},
        {"program header offset wraps",
         withHeader(
             imageA,
             [](Elf64_Ehdr& e) { e.e_phoff = std::numeric_limits<std::uint64_t>::max() - 8; }),
         ImageCheck::BadProgramHeaders},
        {"no program headers", withHeader(imageA, [](Elf64_Ehdr& e) { e.e_phnum = 0; }),
         ImageCheck::BadProgramHeaders},
        {"odd program header size", withHeader(imageA, [](Elf64_Ehdr& e) { e.e_phentsize = 8; }),
         ImageCheck::BadProgramHeaders},
        {"section headers cut off", imageA.left(qsizetype(h.e_shoff + h.e_shentsize)),
         ImageCheck::BadSectionHeaders},
        {"extended section count", withExtendedSectionCount(imageA, h.e_shnum), ImageCheck::Ok},
        {"extended section count past the end", withExtendedSectionCount(imageA, h.e_shnum + 1),
         ImageCheck::BadSectionHeaders},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(checkImage(bytes(c.image)), c.expected);
        if (c.expected == ImageCheck::Ok)
            continue;
        MemoryLoader loader;
        EXPECT_FALSE(loader.loadImage(bytes(c.image)));
        EXPECT_FALSE(loader.loaded());
        EXPECT_EQ(loader.lastError(), describe(c.expected));
    }
    EXPECT_EQ(checkImage(bytes(imageA)), ImageCheck::Ok);
    EXPECT_EQ(memoryFileTraces(), 0);
}

TEST_F(MemoryLoaderTest, LoadsFindsOwnExportsAndUnloads) {
    MemoryLoader loader;
    ASSERT_TRUE(loader.loadImage(bytes(imageA))) << loader.lastError();
    EXPECT_EQ(imageLog().events, "Ai");
    auto answer = reinterpret_cast<int (*)()>(loader.getExport("quill_test_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    auto seven = reinterpret_cast<int (*)()>(loader.getExport("7"));
    ASSERT_NE(seven, nullptr);
    EXPECT_EQ(seven(), 7);
    EXPECT_EQ(loader.getExport("1"), nullptr);  // no ordinals
    EXPECT_EQ(loader.getExport("quill_test_missing"), nullptr);
    EXPECT_EQ(loader.getExport(nullptr), nullptr);
    // Found through the image's dependencies or the program, not in the image.
    EXPECT_EQ(loader.getExport("malloc"), nullptr);
    EXPECT_EQ(loader.getExport("quill_test_event"), nullptr);

    EXPECT_TRUE(loader.unloadImage());
    EXPECT_EQ(imageLog().events, "Aif");
    EXPECT_FALSE(loader.loaded());
    EXPECT_EQ(loader.getExport("quill_test_answer"), nullptr);
    EXPECT_TRUE(loader.unloadImage());
    EXPECT_EQ(memoryFileTraces(), 0);
}

TEST_F(MemoryLoaderTest, LoadingUnloadsThePreviousImageFirst) {
    MemoryLoader loader;
    ASSERT_TRUE(loader.loadImage(bytes(imageA)));
    ASSERT_TRUE(loader.loadImage(bytes(imageB)));
    EXPECT_EQ(imageLog().events, "AifBi");
    // The same image again gets a fresh copy, not the one just unloaded.
    ASSERT_TRUE(loader.loadImage(bytes(imageB)));
    EXPECT_EQ(imageLog().events, "AifBifBi");

    EXPECT_FALSE(loader.loadImage(bytes(imageA.left(10))));
    EXPECT_EQ(imageLog().events, "AifBifBif");
    EXPECT_FALSE(loader.loaded());
    EXPECT_EQ(memoryFileTraces(), 0);
}

TEST_F(MemoryLoaderTest, RefusesAnImageWithAnUnresolvableImport) {
    QByteArray image = testImage("missing_import");
    ASSERT_FALSE(image.isEmpty());
    MemoryLoader loader;
    ASSERT_TRUE(loader.loadImage(bytes(imageA)));
    EXPECT_FALSE(loader.loadImage(bytes(image)));
    EXPECT_FALSE(loader.loaded());
    EXPECT_NE(loader.lastError().find("quill_test_nowhere"), std::string::npos)
        << loader.lastError();
    EXPECT_EQ(imageLog().events, "Aif");
    EXPECT_EQ(memoryFileTraces(), 0);
}

TEST_F(MemoryLoaderTest, DestructorUnloads) {
    {
        MemoryLoader loader;
        ASSERT_TRUE(loader.loadImage(bytes(imageA)));
    }
    EXPECT_EQ(imageLog().events, "Aif");
    EXPECT_EQ(memoryFileTraces(), 0);
}

TEST(EmbeddedComponent, LoadsExportsBothFunctionsAndUnloadsCompletely) {
    MemoryLoader loader;
    ASSERT_TRUE(loader.loadImage(embeddedSkinLibrary())) << loader.lastError();
    auto attach = reinterpret_cast<SkinAttachResFn>(loader.getExport(kAttachExport));
    auto detach = reinterpret_cast<SkinDetachFn>(loader.getExport(kDetachExport));
    ASSERT_NE(attach, nullptr);
    ASSERT_NE(detach, nullptr);
    // This program has a QCoreApplication only: nothing to put a skin on.
    EXPECT_EQ(attach(".SHE 1\n", 7, nullptr, 0, 0, 0), SkinNoApplication);
    EXPECT_EQ(detach(), SkinNoApplication);
    EXPECT_TRUE(loader.unloadImage());
    EXPECT_EQ(memoryFileTraces(), 0);
}
