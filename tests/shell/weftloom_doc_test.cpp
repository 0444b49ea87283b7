#include <QMdiSubWindow>

#include "imageio/png_writer.h"
#include "shell/framework/commands.h"
#include "tests/shell/app_fixture.h"

namespace weftloom {
namespace {

namespace command = framework::command;
using SaveAs = testing::AppFixture;
using ImageDocument = testing::AppFixture;

// Save As follows the path rules, leaves the photo alone and clears the
// modified flag; a failed write or an empty document keep it.
TEST_F(SaveAs, PathRulesFailuresAndEmptyDocuments) {
    ASSERT_EQ(scratch.path().string().find('.'), std::string::npos);
    std::filesystem::copy_file(test::DataPath("jpeg/testorig.jpg"), scratch / "photo.jpg");
    const auto jpegBytes = test::ReadBytes(scratch / "photo.jpg");
    ASSERT_TRUE(Start({QString::fromStdString((scratch / "photo.jpg").string())}));
    std::filesystem::create_directory(scratch / "my.pics");
    std::vector<std::uint8_t> tgaBytes;
    std::vector<std::uint8_t> pngBytes;
    ASSERT_TRUE(EncodeTga(ActiveDoc()->image, tgaBytes));
    ASSERT_TRUE(EncodePng(ActiveDoc()->image, pngBytes));
    const std::tuple<std::string, std::string, QString> cases[] = {
        {"photo.jpg", "photo.tga", "photo.tga"},
        {"result", "result.tga", "result.tga"},
        {"result.bmp", "result.bmp", "result.bmp"},
        {"texture.png", "texture.png", "texture.png"},
        {"my.pics/result", "my.pics/result.tga", "result.tga"},
    };
    for (const auto& [chosen, written, title] : cases) {
        const std::vector<std::uint8_t>& expected = written.ends_with(".png") ? pngBytes : tgaBytes;
        SCOPED_TRACE(chosen);
        ActiveDoc()->SetModifiedFlag(true);
        fileAnswers.push_back(QString::fromStdString((scratch / chosen).string()));
        Trigger(command::kFileSaveAs);
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(test::ReadBytes(scratch / written), expected);
        EXPECT_EQ(ActiveDoc()->Title(), title);
        EXPECT_EQ(ActiveDoc()->PathName().toStdString(), (scratch / written).string());
        EXPECT_FALSE(ActiveDoc()->IsModified());
    }
    EXPECT_EQ(test::ReadBytes(scratch / "photo.jpg"), jpegBytes) << "the photo keeps its bytes";
    ASSERT_FALSE(fileRequests.empty());
    EXPECT_EQ(fileRequests.back().filters,
              (QStringList{"TGA Images (*.tga)", "PNG Images (*.png)", "All Files (*)"}));
    EXPECT_FALSE(std::filesystem::exists(scratch / "result")) << "nothing under the bare name";

    ActiveDoc()->SetModifiedFlag(true);
    fileAnswers.push_back(QString::fromStdString((scratch / "no-such-folder" / "x.tga").string()));
    Trigger(command::kFileSaveAs);
    // The fixed line, then the system's reason.
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].startsWith("An error occured while saving the file\n\n"));
    EXPECT_TRUE(messages[0].endsWith(": No such file or directory.")) << messages[0].toStdString();
    EXPECT_TRUE(ActiveDoc()->IsModified());
    EXPECT_EQ(ActiveDoc()->Title(), "result.tga");

    // An empty document refuses before any file is made.
    messages.clear();
    choice = 0;
    Trigger(command::kFileNew);
    ActiveDoc()->SetModifiedFlag(true);
    fileAnswers.push_back(QString::fromStdString((scratch / "empty").string()));
    EXPECT_FALSE(ActiveDoc()->DoSaveAs());
    EXPECT_EQ(messages, (std::vector<QString>{"This is an empty document"}));
    EXPECT_TRUE(ActiveDoc()->IsModified());
    EXPECT_FALSE(std::filesystem::exists(scratch / "empty.tga"));
}

// A level's row is enlarged by whole factors into the image; what the factors
// do not reach, and rows past the image, stay black.
TEST_F(ImageDocument, PreviewRowsAreEnlargedIntoTheImage) {
    ASSERT_TRUE(Start());
    Trigger(command::kFileNew);
    CWeftloomDoc* doc = ActiveDoc();
    const int first = CWeftloomDoc::NextSynthesisNumber();
    struct Case {
        std::uint32_t width, height, levelWidth, levelHeight, row;
    };
    // 3 across with column 99 left over; rows past the image; 4 both ways.
    for (const Case& c : {Case{100, 10, 33, 10, 2}, Case{100, 10, 33, 10, 10},
                          Case{100, 10, 33, 5, 7}, Case{256, 256, 64, 64, 5}}) {
        SCOPED_TRACE(c.width + c.row);
        ASSERT_TRUE(doc->CreateImage(c.width, c.height, 3));
        std::vector<std::uint8_t> row(c.levelWidth * 3);
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i] = static_cast<std::uint8_t>(i + 1);
        }
        doc->PreviewRow(row.data(), c.levelWidth, c.levelHeight, c.row);
        const std::uint32_t xScale = c.width / c.levelWidth, yScale = c.height / c.levelHeight;
        for (std::uint32_t y = 0; y < c.height; ++y) {
            for (std::uint32_t x = 0; x < c.width; ++x) {
                const bool written = y / yScale == c.row && x / xScale < c.levelWidth;
                ASSERT_EQ(doc->image.PixelAt(x, y)[2], written ? row[x / xScale * 3 + 2] : 0)
                    << x << "," << y;
            }
        }
    }
    EXPECT_TRUE(doc->IsModified());
    // Each image took the next synthesis number; a failed one takes none.
    EXPECT_FALSE(doc->CreateImage(0xFFFFFFFFu, 0xFFFFFFFFu, 4));
    EXPECT_EQ(doc->Title(), QString("Synthesis %1").arg(first + 3));
    EXPECT_EQ(CWeftloomDoc::NextSynthesisNumber(), first + 4);
}

// A texture whose synthesis stopped early says so in its title, under every
// name it is saved as, and in the question before it is closed unsaved.
TEST_F(ImageDocument, AnUnfinishedTextureSaysSo) {
    ASSERT_TRUE(Start());
    Trigger(command::kFileNew);
    CWeftloomDoc* doc = ActiveDoc();
    ASSERT_TRUE(doc->CreateImage(8, 8, 3));
    const QString name = doc->Title();
    doc->SetUnfinished(true);
    doc->SetModifiedFlag(true);
    EXPECT_EQ(Frame()->MdiArea()->activeSubWindow()->windowTitle(), name + " (unfinished)");
    answers = {framework::MessageResult::Cancel};
    Trigger(command::kFileClose);
    EXPECT_EQ(messages, std::vector<QString>{"Save changes to " + name +
                                             " (unfinished)?\n\nThe texture is unfinished: its "
                                             "synthesis was stopped before the end."});
    fileAnswers.push_back(QString::fromStdString((scratch / "part.tga").string()));
    Trigger(command::kFileSaveAs);
    EXPECT_EQ(doc->Title(), "part.tga (unfinished)");
    ASSERT_TRUE(doc->CreateImage(8, 8, 3));
    EXPECT_FALSE(doc->Title().contains("unfinished")) << "a new image starts finished";
}

// Whatever name is chosen, the file really written is asked about when it
// exists, a read-only one with No as the default answer. No leaves the file
// and the modified flag as they were; Yes replaces the file.
TEST_F(SaveAs, ReplacingAFileIsAskedFirst) {
    ASSERT_TRUE(Start({QString::fromStdString(WriteSample("wall.tga", 6, 5))}));
    const auto victim = scratch / "victim.tga";
    using framework::MessageResult;
    const std::tuple<const char*, bool, MessageResult> cases[] = {
        {"victim.jpg", false, MessageResult::No}, {"victim", false, MessageResult::No},
        {"victim.tga", true, MessageResult::No},  {"victim", true, MessageResult::No},
        {"victim.tga", true, MessageResult::Yes}, {"victim", false, MessageResult::Yes}};
    for (const auto& [chosen, readOnly, answer] : cases) {
        SCOPED_TRACE(std::string(chosen) + (readOnly ? " read-only" : ""));
        test::WriteBytes(victim, {1, 2, 3});
        std::filesystem::permissions(victim, readOnly ? std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::group_read
                                                      : std::filesystem::perms::owner_all);
        messages.clear();
        buttonsShown.clear();
        ActiveDoc()->SetModifiedFlag(true);
        answers = {answer};
        fileAnswers.push_back(QString::fromStdString((scratch / chosen).string()));
        Trigger(command::kFileSaveAs);
        EXPECT_EQ(messages,
                  std::vector<QString>{readOnly ? "victim.tga is read-only. Replace it anyway?"
                                                : "victim.tga already exists.\nDo you "
                                                  "want to replace it?"});
        EXPECT_EQ(buttonsShown, std::vector{readOnly ? framework::MessageButtons::YesNoDefaultNo
                                                     : framework::MessageButtons::YesNo});
        const bool replaced = answer == MessageResult::Yes;
        EXPECT_EQ(test::ReadBytes(victim) == (std::vector<std::uint8_t>{1, 2, 3}), !replaced);
        EXPECT_EQ(ActiveDoc()->IsModified(), !replaced);
        EXPECT_EQ(ActiveDoc()->Title(), replaced ? "victim.tga" : "wall.tga");
        ActiveDoc()->SetTitle("wall.tga");
    }
}

// A name without an extension takes the chosen filter's, one with an
// extension keeps it; every file chooser starts in the folder last chosen.
TEST_F(SaveAs, TheChosenFilterGivesTheExtensionAndTheFolderIsRemembered) {
    ASSERT_TRUE(Start({QString::fromStdString(WriteSample("wall.tga", 6, 5))}));
    std::vector<std::uint8_t> tgaBytes;
    std::vector<std::uint8_t> pngBytes;
    ASSERT_TRUE(EncodeTga(ActiveDoc()->image, tgaBytes));
    ASSERT_TRUE(EncodePng(ActiveDoc()->image, pngBytes));
    const auto there = scratch / "there";
    std::filesystem::create_directory(there);
    const QString png = "PNG Images (*.png)";
    const std::tuple<const char*, QString, const char*> cases[] = {
        {"a", png, "a.png"},
        {"b", "TGA Images (*.tga)", "b.tga"},
        {"c", "All Files (*)", "c.tga"},
        {"d.tga", png, "d.tga"}};
    for (const auto& [chosen, filter, written] : cases) {
        SCOPED_TRACE(chosen);
        fileAnswers.push_back({QString::fromStdString((there / chosen).string()), filter});
        Trigger(command::kFileSaveAs);
        EXPECT_EQ(test::ReadBytes(there / written),
                  QString(written).endsWith(".png") ? pngBytes : tgaBytes);
        EXPECT_EQ(ActiveDoc()->Title(), written);
    }
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(there), {}), 4);
    // The first chooser started in the document's folder, for want of a last one.
    ASSERT_EQ(fileRequests.size(), 4u);
    EXPECT_EQ(fileRequests[0].folder.toStdString(), scratch.path().string());
    EXPECT_EQ(fileRequests[0].name, "wall.tga");
    EXPECT_EQ(fileRequests[1].folder.toStdString(), there.string());
    // Open starts there as well, after a restart too.
    app.reset();
    Settle();
    ASSERT_TRUE(Start());
    Trigger(command::kFileOpen);
    EXPECT_EQ(fileRequests.back().folder.toStdString(), there.string());
}

}  // namespace
}  // namespace weftloom
