#include <QFileInfo>

#include "shell/framework/commands.h"
#include "tests/shell/app_fixture.h"

namespace weftloom {
namespace {

namespace command = framework::command;
using SaveAs = testing::AppFixture;
using ImageDocument = testing::AppFixture;

TEST_F(SaveAs, PathRulesAndTheJpegStaysUntouched) {
    ASSERT_EQ(scratch.path().string().find('.'), std::string::npos);
    std::filesystem::copy_file(std::string(WEFTLOOM_TEST_DATA_DIR) + "/jpeg/testorig.jpg",
                               scratch / "photo.jpg");
    const auto jpegBytes = test::ReadBytes(scratch / "photo.jpg");
    ASSERT_TRUE(Start({QString::fromStdString((scratch / "photo.jpg").string())}));
    std::filesystem::create_directory(scratch / "my.pics");
    std::vector<std::uint8_t> expected;
    ASSERT_TRUE(EncodeTga(ActiveDoc()->image, expected));

    struct Case {
        std::string chosen;
        std::string written;
        QString title;
    };
    const std::vector<Case> cases = {
        {"photo.jpg", "photo.tga", "photo.tga"},
        {"result", "result.tga", "result.tga"},
        {"my.pics/result", "my.pics/result", "result"},
        {"other.bmp", "other.bmp", "other.bmp"},
    };
    for (const Case& c : cases) {
        ActiveDoc()->SetModifiedFlag(true);
        fileAnswers.push_back(QString::fromStdString((scratch / c.chosen).string()));
        Trigger(command::kFileSaveAs);
        EXPECT_TRUE(messages.empty()) << c.chosen;
        ASSERT_TRUE(std::filesystem::is_regular_file(scratch / c.written)) << c.chosen;
        EXPECT_EQ(test::ReadBytes(scratch / c.written), expected) << c.chosen;
        EXPECT_EQ(ActiveDoc()->Title(), c.title) << c.chosen;
        EXPECT_EQ(ActiveDoc()->PathName().toStdString(), (scratch / c.written).string());
        EXPECT_FALSE(ActiveDoc()->IsModified()) << c.chosen;
    }
    EXPECT_EQ(test::ReadBytes(scratch / "photo.jpg"), jpegBytes) << "the photo keeps its bytes";
    EXPECT_FALSE(std::filesystem::exists(scratch / "result")) << "nothing under the bare name";
}

TEST_F(SaveAs, ReplacingTheFileReallyWrittenIsAskedFirst) {
    ASSERT_TRUE(Start({QString::fromStdString(WriteSample("wall.tga", 6, 5))}));
    test::WriteBytes(scratch / "victim.tga", {1, 2, 3});
    const QString question = "victim.tga already exists.\nDo you want to replace it?";
    for (const char* chosen : {"victim.jpg", "victim"}) {
        messages.clear();
        ActiveDoc()->SetModifiedFlag(true);
        answers = {framework::MessageResult::No};
        fileAnswers.push_back(QString::fromStdString((scratch / chosen).string()));
        Trigger(command::kFileSaveAs);
        EXPECT_EQ(messages, std::vector<QString>{question}) << chosen;
        EXPECT_EQ(test::ReadBytes(scratch / "victim.tga"), (std::vector<std::uint8_t>{1, 2, 3}));
        EXPECT_TRUE(ActiveDoc()->IsModified());
    }
    answers = {framework::MessageResult::Yes};
    fileAnswers.push_back(QString::fromStdString((scratch / "victim").string()));
    Trigger(command::kFileSaveAs);
    EXPECT_EQ(ActiveDoc()->Title(), "victim.tga");
    EXPECT_GT(std::filesystem::file_size(scratch / "victim.tga"), 3u);
}

TEST_F(SaveAs, EmptyDocumentsAndFailedWritesKeepTheModifiedFlag) {
    const std::string sample = WriteSample("wall.tga", 6, 5);
    const auto original = test::ReadBytes(sample);
    ASSERT_TRUE(Start({QString::fromStdString(sample)}));
    ActiveDoc()->SetModifiedFlag(true);
    fileAnswers.push_back(QString::fromStdString((scratch / "no-such-folder" / "x.tga").string()));
    Trigger(command::kFileSaveAs);
    EXPECT_EQ(messages, (std::vector<QString>{"An error occured while saving the file"}));
    EXPECT_TRUE(ActiveDoc()->IsModified());
    EXPECT_EQ(ActiveDoc()->Title(), "wall.tga");
    EXPECT_EQ(test::ReadBytes(sample), original);

    // An empty document refuses before any file is touched.
    messages.clear();
    choice = 0;
    Trigger(command::kFileNew);
    ActiveDoc()->SetModifiedFlag(true);
    test::WriteBytes(scratch / "keep.tga", {9, 9, 9});
    fileAnswers.push_back(QString::fromStdString((scratch / "keep.tga").string()));
    ASSERT_TRUE(ActiveDoc()->DoSaveAs() == false);
    EXPECT_EQ(messages, (std::vector<QString>{"This is an empty document"}));
    EXPECT_TRUE(ActiveDoc()->IsModified());
    EXPECT_EQ(test::ReadBytes(scratch / "keep.tga"), (std::vector<std::uint8_t>{9, 9, 9}));
}

TEST_F(ImageDocument, SynthesisTitlesCountOnAcrossClosedDocuments) {
    ASSERT_TRUE(Start());
    const int first = CWeftloomDoc::NextSynthesisNumber();
    std::vector<QString> titles;
    for (int i = 0; i < 3; ++i) {
        choice = 0;
        Trigger(command::kFileNew);
        ASSERT_TRUE(ActiveDoc()->CreateImage(8, 6, 3));
        titles.push_back(ActiveDoc()->Title());
        EXPECT_FALSE(ActiveDoc()->IsModified());
        Trigger(command::kFileClose);
        EXPECT_EQ(WindowCount(), 0);
    }
    EXPECT_EQ(titles, (std::vector<QString>{QString("Synthesis %1").arg(first),
                                            QString("Synthesis %1").arg(first + 1),
                                            QString("Synthesis %1").arg(first + 2)}));
    Trigger(command::kFileNew);
    ASSERT_TRUE(ActiveDoc()->CreateImage(0, 0, 3));
    EXPECT_TRUE(ActiveDoc()->image.IsEmpty());
    EXPECT_EQ(ActiveDoc()->Title(), QString("Synthesis %1").arg(first + 3));
    EXPECT_FALSE(ActiveDoc()->CreateImage(0xFFFFFFFFu, 0xFFFFFFFFu, 4));
    EXPECT_EQ(CWeftloomDoc::NextSynthesisNumber(), first + 4) << "a failed image takes no number";
}

TEST_F(ImageDocument, PreviewRowsAreEnlargedIntoTheImage) {
    ASSERT_TRUE(Start());
    Trigger(command::kFileNew);
    CWeftloomDoc* doc = ActiveDoc();
    ASSERT_TRUE(doc->CreateImage(256, 256, 3));
    std::vector<std::uint8_t> row(64 * 3);
    for (std::size_t i = 0; i < row.size(); ++i) {
        row[i] = static_cast<std::uint8_t>(i + 1);
    }
    doc->PreviewRow(row.data(), 64, 64, 5);
    EXPECT_TRUE(doc->IsModified());
    for (std::uint32_t y = 0; y < 256; ++y) {
        const bool written = y >= 20 && y <= 23;
        EXPECT_EQ(doc->image.PixelAt(0, y)[0], written ? 1 : 0) << y;
    }
    // Each level pixel four times across.
    EXPECT_EQ(doc->image.PixelAt(3, 21)[2], 3);
    EXPECT_EQ(doc->image.PixelAt(4, 21)[0], 4);
    EXPECT_EQ(doc->image.PixelAt(255, 23)[2], 192);
    // The view's copy has those rows too (blue first).
    const CWeftloomView* view = ActiveView();
    const std::size_t stride = 3 * static_cast<std::size_t>(view->BitmapInfo().width);
    EXPECT_EQ(view->BitmapBits()[20 * stride + 0], 3);
    EXPECT_EQ(view->BitmapBits()[20 * stride + 2], 1);

    // 100 wide from 33: xScale 3, column 99 never written.
    ASSERT_TRUE(doc->CreateImage(100, 10, 3));
    std::vector<std::uint8_t> narrow(33 * 3, 200);
    doc->PreviewRow(narrow.data(), 33, 10, 2);
    EXPECT_EQ(doc->image.PixelAt(98, 2)[0], 200);
    EXPECT_EQ(doc->image.PixelAt(99, 2)[0], 0);

    // Rows at or past the image's height, and past the level's, stay outside.
    doc->PreviewRow(narrow.data(), 33, 10, 10);
    doc->PreviewRow(narrow.data(), 33, 5, 7);  // row beyond the level: rows 14.. do not exist
    EXPECT_EQ(doc->image.pixels.size(), 100u * 10u * 3u);
}

}  // namespace
}  // namespace weftloom
