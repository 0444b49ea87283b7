#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMdiArea>

#include <string>
#include <vector>

#include "shell/framework/commands.h"
#include "shell/resources/resource_ids.h"
#include "shell/selection.h"
#include "tests/shell/app_fixture.h"

namespace weftloom {
namespace {

namespace command = framework::command;

// A selection as rows of '#' (selected) and '.'.
std::vector<std::string> Rows(const Selection& selection) {
    std::vector<std::string> rows(selection.Height(), std::string(selection.Width(), '.'));
    for (std::uint32_t y = 0; y < selection.Height(); ++y) {
        for (std::uint32_t x = 0; x < selection.Width(); ++x) {
            rows[y][x] = selection.Selected(x, y) ? '#' : '.';
        }
    }
    return rows;
}

// Each shape takes the pixels whose centres it holds (a rectangle: every pixel
// it touches), clipped to the picture, whatever the order of its corners.
TEST(SelectionShapes, TakeThePixelsTheyCover) {
    struct Case {
        const char* name;
        SelectionShape shape;
        std::vector<QPointF> points;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"rectangle, corners inside pixels",
         SelectionShape::Rectangle,
         {{4.9, 3.1}, {1.2, 1.7}},
         {"........", ".####...", ".####...", ".####...", "........", "........"}},
        {"rectangle past the picture",
         SelectionShape::Rectangle,
         {{5.5, -3}, {12, 1.5}},
         {".....###", ".....###", "........", "........", "........", "........"}},
        {"ellipse in a 7 x 5 box",
         SelectionShape::Ellipse,
         {{0.2, 0.2}, {6.8, 4.8}},
         {".#####..", "#######.", "#######.", "#######.", ".#####..", "........"}},
        {"lasso, a triangle",
         SelectionShape::Lasso,
         {{0, 0}, {8, 0}, {0, 6}},
         {"#######.", "######..", "#####...", "###.....", "##......", "#......."}},
        {"lasso of two points",
         SelectionShape::Lasso,
         {{0, 0}, {8, 6}},
         {"........", "........", "........", "........", "........", "........"}},
    };
    for (const Case& c : cases) {
        Selection selection;
        selection.Reset(8, 6);
        selection.Combine(c.shape, c.points, SelectionMode::Replace);
        EXPECT_EQ(Rows(selection), c.expected) << c.name;
    }
}

// The outline runs along the selection's edge: a rectangle's is its four
// sides; an L's six sides add up to its perimeter.
TEST(SelectionShapes, OutlineFollowsTheEdge) {
    Selection selection;
    selection.Reset(10, 8);
    selection.Combine(SelectionShape::Rectangle, {{2, 1}, {5, 6}}, SelectionMode::Replace);
    const std::vector<QLine> sides = selection.Outline();
    EXPECT_EQ(sides.size(), 4u);
    for (const QLine& side : sides) {
        EXPECT_TRUE(side == QLine(2, 1, 6, 1) || side == QLine(2, 7, 6, 7) ||
                    side == QLine(2, 1, 2, 7) || side == QLine(6, 1, 6, 7))
            << side.x1() << "," << side.y1() << " " << side.x2() << "," << side.y2();
    }
    selection.Combine(SelectionShape::Rectangle, {{4, 1}, {5, 3}}, SelectionMode::Subtract);
    const std::vector<QLine> lShape = selection.Outline();
    int length = 0;
    for (const QLine& side : lShape) {
        length += std::abs(side.dx()) + std::abs(side.dy());
    }
    EXPECT_EQ(lShape.size(), 6u);
    EXPECT_EQ(length, 2 * (4 + 6));
    // A selection at the picture's edge is outlined along it.
    selection.SelectAll();
    EXPECT_EQ(selection.Outline().size(), 4u);
    EXPECT_EQ(selection.Bounds(), QRect(0, 0, 10, 8));
}

class SelectionOnAView : public testing::AppFixture {
  protected:
    // Opens a picture (three or four bytes a pixel) shown eight times as large.
    void OpenPicture(std::uint32_t width, std::uint32_t height, std::uint32_t bytesPerPixel) {
        const std::string path = (scratch / "wall.tga").string();
        ASSERT_TRUE(WriteTga(testing::PatternImage(width, height, bytesPerPixel), path));
        ASSERT_TRUE(Start({QString::fromStdString(path)}));
        Trigger(kIdZoomActual);
        for (int i = 0; i < 3; ++i) {
            Trigger(kIdZoomIn);
        }
        ASSERT_EQ(ActiveView()->Zoom(), 8);
    }

    const Selection& Selected() const { return ActiveDoc()->selection; }
};

// Drawn with the mouse: a plain drag replaces, Shift adds, Ctrl takes away;
// Invert and a click that does not drag work on the same mask, and the
// commands that need a selection follow it.
TEST_F(SelectionOnAView, ShiftAddsCtrlTakesAwayInvertAndAClickClears) {
    OpenPicture(8, 6, 3);
    EXPECT_FALSE(Enabled(kIdCropToSelection));
    EXPECT_FALSE(Enabled(kIdSelectNone));
    struct Step {
        const char* name;
        int tool;  // the tool's command, 0 to keep it
        Qt::KeyboardModifiers keys;
        QPoint from;
        QPoint to;
        int command;  // instead of a drag when not 0
        std::vector<std::string> expected;
    };
    const Step steps[] = {
        {"drag",
         0,
         {},
         {1, 1},
         {4, 3},
         0,
         {"........", ".####...", ".####...", ".####...", "........", "........"}},
        {"Shift drag",
         0,
         Qt::ShiftModifier,
         {3, 2},
         {6, 4},
         0,
         {"........", ".####...", ".######.", ".######.", "...####.", "........"}},
        {"Ctrl drag",
         0,
         Qt::ControlModifier,
         {2, 0},
         {3, 5},
         0,
         {"........", ".#..#...", ".#..###.", ".#..###.", "....###.", "........"}},
        {"Invert",
         0,
         {},
         {},
         {},
         kIdSelectInvert,
         {"########", "#.##.###", "#.##...#", "#.##...#", "####...#", "########"}},
        {"Shift ellipse",
         kIdSelectEllipse,
         Qt::ShiftModifier,
         {1, 1},
         {1, 3},
         0,
         {"########", "####.###", "####...#", "####...#", "####...#", "########"}},
        {"a click", 0, {}, {5, 3}, {5, 3}, 0, std::vector<std::string>(6, "........")},
        {"Select All", 0, {}, {}, {}, kIdSelectAll, std::vector<std::string>(6, "########")},
        {"Select None", 0, {}, {}, {}, kIdSelectNone, std::vector<std::string>(6, "........")},
    };
    for (const Step& step : steps) {
        if (step.tool != 0) {
            Trigger(step.tool);
        }
        if (step.command != 0) {
            Trigger(step.command);
        } else {
            DragOver(step.from, step.to, step.keys);
        }
        ASSERT_EQ(Rows(Selected()), step.expected) << step.name;
        const bool any = step.expected[0][0] == '#' || step.expected[1][1] == '#';
        EXPECT_EQ(Enabled(kIdCropToSelection), any) << step.name;
        EXPECT_EQ(Enabled(kIdFillSelection), any) << step.name;
    }
    // Escape drops a shape being drawn; the selection stays as it was.
    Trigger(kIdSelectAll);
    QWidget* client = ActiveView()->viewport();
    QTest::mousePress(client, Qt::LeftButton, {}, PixelCentre({1, 1}));
    QTest::mouseMove(client, PixelCentre({4, 4}));
    QTest::keyClick(ActiveView(), Qt::Key_Escape);
    QTest::mouseRelease(client, Qt::LeftButton, {}, PixelCentre({4, 4}));
    EXPECT_EQ(Selected().Count(), 48u);
    // The tools are one choice, shown checked.
    EXPECT_TRUE(Action(kIdSelectEllipse)->isChecked());
    EXPECT_FALSE(Action(kIdSelectRectangle)->isChecked());
}

// A selection is seen on the picture, tinted, at any zoom, Fit and Stretch:
// the pixels under it change colour, the others do not.
TEST_F(SelectionOnAView, IsDrawnOverThePictureAtEveryZoom) {
    OpenPicture(16, 12, 3);
    DragOver({4, 3}, {9, 7});
    ASSERT_EQ(Selected().Bounds(), QRect(4, 3, 6, 5));
    const Image& picture = ActiveDoc()->image;
    const auto shown = [&picture](QPoint pixel) {
        const std::uint8_t* p = picture.PixelAt(static_cast<std::uint32_t>(pixel.x()),
                                                static_cast<std::uint32_t>(pixel.y()));
        return QColor(p[0], p[1], p[2]);
    };
    for (const int zoom : {0, kIdZoomOut, kIdZoomFit, kIdViewStretch}) {
        if (zoom != 0) {
            Trigger(zoom);
        }
        const QImage client = ActiveView()->viewport()->grab().toImage();
        for (const QPoint pixel : {QPoint(6, 5), QPoint(8, 4)}) {
            // A third of a light blue over the pixel.
            const QColor drawn = client.pixelColor(PixelCentre(pixel));
            const QColor under = shown(pixel);
            const auto blend = [](int was, int tint) { return (tint * 85 + was * 170) / 255; };
            EXPECT_NEAR(drawn.red(), blend(under.red(), 70), 2) << zoom;
            EXPECT_NEAR(drawn.green(), blend(under.green(), 150), 2) << zoom;
            EXPECT_NEAR(drawn.blue(), blend(under.blue(), 255), 2) << zoom;
        }
        for (const QPoint pixel : {QPoint(1, 1), QPoint(12, 5), QPoint(6, 10)}) {
            EXPECT_EQ(client.pixelColor(PixelCentre(pixel)), shown(pixel))
                << zoom << " not selected";
        }
    }
}

// Copy takes the selection's bounding rectangle, the pixels left out
// transparent; Crop to Selection opens the whole rectangle as a new picture
// named after the first, ready to be synthesised from.
TEST_F(SelectionOnAView, CopyAndCropTakeTheBoundingRectangle) {
    OpenPicture(12, 10, 3);
    CWeftloomDoc* original = ActiveDoc();
    const Image before = original->image;
    DragOver({2, 3}, {7, 8});
    Trigger(kIdSelectEllipse);
    DragOver({2, 1}, {4, 4}, Qt::ShiftModifier);  // grows the bounds upwards
    ASSERT_EQ(Selected().Bounds(), QRect(2, 1, 6, 8));

    QGuiApplication::clipboard()->clear();
    Trigger(command::kEditCopy);
    const QImage copied =
        QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGBA8888);
    ASSERT_EQ(copied.size(), QSize(6, 8));
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 6; ++x) {
            const auto px = static_cast<std::uint32_t>(x + 2);
            const auto py = static_cast<std::uint32_t>(y + 1);
            const QColor colour = copied.pixelColor(x, y);
            if (Selected().Selected(px, py)) {
                const std::uint8_t* p = before.PixelAt(px, py);
                EXPECT_EQ(colour, QColor(p[0], p[1], p[2])) << x << "," << y;
            } else {
                EXPECT_EQ(colour.alpha(), 0) << x << "," << y;
            }
        }
    }
    EXPECT_EQ(copied.pixelColor(0, 0).alpha(), 0) << "the ellipse leaves its box's corner out";

    Trigger(kIdCropToSelection);
    ASSERT_EQ(WindowCount(), 2);
    CWeftloomDoc* cropped = ActiveDoc();
    ASSERT_NE(cropped, original);
    EXPECT_EQ(cropped->Title(), "wall.tga (cropped)");
    EXPECT_TRUE(cropped->IsModified());
    ASSERT_EQ(cropped->image.width, 6u);
    ASSERT_EQ(cropped->image.height, 8u);
    EXPECT_EQ(cropped->image.bytesPerPixel, 3u);
    for (std::uint32_t y = 0; y < 8; ++y) {
        EXPECT_TRUE(std::equal(cropped->image.PixelAt(0, y), cropped->image.PixelAt(0, y) + 18,
                               before.PixelAt(2, y + 1)))
            << y;
    }
    EXPECT_FALSE(cropped->HasSelection());
    EXPECT_TRUE(Enabled(kIdSynthesise));
    EXPECT_EQ(original->image.pixels, before.pixels) << "the original is left as it was";

    // Select All copies the whole picture as it is, without alpha.
    Frame()->MdiArea()->activatePreviousSubWindow();
    ASSERT_EQ(ActiveDoc(), original);
    Trigger(kIdSelectAll);
    Trigger(command::kEditCopy);
    EXPECT_FALSE(QGuiApplication::clipboard()->image().hasAlphaChannel());
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(12, 10));
}

// Fill Transparent Areas is offered only for a picture with a pixel less than
// half opaque.
TEST_F(SelectionOnAView, FillTransparentAreasNeedsTransparency) {
    OpenPicture(8, 6, 3);
    EXPECT_FALSE(Enabled(kIdFillTransparent)) << "no alpha";
    CWeftloomDoc* document = ActiveDoc();
    document->image = testing::PatternImage(8, 6, 4);  // alpha 192 and more
    document->ImageReplaced();
    EXPECT_FALSE(Enabled(kIdFillTransparent)) << "alpha, all of it over half";
    document->image.PixelAt(3, 2)[3] = 127;
    document->ImageReplaced();
    EXPECT_TRUE(Enabled(kIdFillTransparent));
}

}  // namespace
}  // namespace weftloom
