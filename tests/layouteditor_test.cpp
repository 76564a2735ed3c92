// The Layout tab: margins, clamping, the size popups, the 'PRES' atom and a
// stored layout arriving in a converted movie.
#include <gtest/gtest.h>

#include <random>

#include "engine/app/layouteditor.h"
#include "engine/convert.h"
#include "moviedb/chunk.h"
#include "tests/media_fixtures.h"
#include "tests/movie_builder.h"
#include "tests/preset_fixtures.h"

namespace {

using Texts = std::vector<std::string>;

EditSettings Device(int w, int h, int upright = 0) {
    EditSettings s;
    s.layoutWidth = static_cast<std::uint16_t>(w), s.layoutHeight = static_cast<std::uint16_t>(h);
    s.controlsUpright = static_cast<std::uint16_t>(upright);
    s.customised = true; // the menus are not built: MarkCustomised has nothing to do
    return s;
}

LayoutModel Loaded(EditSettings& s) {
    AtomContainer none;
    LayoutModel l;
    EXPECT_EQ(LoadLayout(none, s, l), noErr);
    return l;
}

// The preset menus read the user's presets: a fresh store of them.
class LayoutEditorTest : public PresetStoreTest {
protected:
    PresetMenus menus_;
};

} // namespace

TEST_F(LayoutEditorTest, MarginsFollowTheShapeAndTheControls) {
    const struct {
        int deviceW, deviceH, upright;
        const char* layout;
        LayoutMargins margins;
        std::int16_t angle;
    } cases[] = {
        {160, 160, 0, "160 x 160", {15, 17, 0, 0, 1, 2}, 0},
        {320, 320, 0, "320 x 320", {30, 34, 0, 0, 1, 2}, 0},
        {320, 480, 0, "320 x 480", {45, 51, 0, 0, 3, 4}, 0},
        {320, 480, 0, "480 x 320", {0, 0, 45, 51, 5, 7}, 90},
        {320, 480, 1, "480 x 320", {30, 34, 0, 0, 1, 2}, 90},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.layout);
        EditSettings s = Device(c.deviceW, c.deviceH, c.upright);
        LayoutModel l = Loaded(s);
        ASSERT_TRUE(ChooseLayoutSize(l, s, menus_, c.layout));
        EXPECT_EQ(l.angle, c.angle);
        EXPECT_EQ(ControlMargins(l, s), c.margins);
        const Rect content = ContentArea(l, s);
        EXPECT_TRUE(l.movie.left >= content.left && l.movie.right <= content.right && l.movie.top >= content.top &&
                    l.movie.bottom <= content.bottom);
    }
    // A counter-clockwise layout has its wide margin on the left; a
    // full-screen movie has none.
    EditSettings s = Device(320, 480);
    LayoutModel l = Loaded(s);
    ASSERT_TRUE(ChooseLayoutSize(l, s, menus_, "480 x 320"));
    l.angle = -90;
    EXPECT_EQ(ControlMargins(l, s), (LayoutMargins{0, 0, 51, 45, 6, 8}));
    ASSERT_TRUE(ChooseLayoutSize(l, s, menus_, "320 x 320"));
    ASSERT_TRUE(ChooseMovieSize(l, s, menus_, "Full 320 x 320"));
    EXPECT_EQ(ContentArea(l, s), MakeRect(0, 0, 320, 320));
    EXPECT_EQ(l.movie, MakeRect(0, 0, 320, 320));
}

TEST_F(LayoutEditorTest, DragsStayInsideOnWholeColumnsAndAboveTheLeastMovie) {
    EditSettings s = Device(160, 160);
    LayoutModel l = Loaded(s); // content 0,15 – 160,143
    const struct {
        LayoutObject which;
        bool resize;
        Rect proposed, allowed;
    } cases[] = {
        {LayoutObject::Movie, false, MakeRect(7, 20, 80, 60), MakeRect(4, 20, 80, 60)},
        {LayoutObject::Movie, false, MakeRect(-30, -30, 80, 60), MakeRect(0, 15, 80, 60)},
        {LayoutObject::Movie, false, MakeRect(150, 140, 80, 60), MakeRect(80, 83, 80, 60)},
        {LayoutObject::Movie, true, MakeRect(9, 30, 5, 5), MakeRect(8, 30, 28, 40)},
        {LayoutObject::Movie, true, MakeRect(150, 140, 5, 5), MakeRect(132, 103, 28, 40)},
        {LayoutObject::Movie, true, MakeRect(-10, 0, 400, 400), MakeRect(0, 15, 160, 128)},
        {LayoutObject::Picture, true, MakeRect(3, 20, 1, 1), MakeRect(0, 20, 4, 1)},
    };
    for (const auto& c : cases) {
        const Rect r = c.resize ? AllowedResize(l, s, c.which, c.proposed) : AllowedMove(l, s, c.which, c.proposed);
        EXPECT_EQ(r, c.allowed) << c.proposed.left << "," << c.proposed.top;
    }
    // On a landscape layout the least movie lies on its side.
    ASSERT_TRUE(ChooseLayoutSize(l, s, menus_, "160 x 160"));
    l.width = 240, l.height = 160;
    EXPECT_EQ(AllowedResize(l, s, LayoutObject::Movie, MakeRect(20, 20, 1, 1)).Width(), 40);
}

TEST_F(LayoutEditorTest, EditsMakeTheLayoutCustomAndTheMovieSizeFollows) {
    EditSettings s = Device(160, 160);
    s.customised = false;
    AtomContainer preset;
    ASSERT_EQ(FindPreset("m500", false, &preset), noErr);
    UnpackSettings(s, preset);
    menus_.Build(s);
    LayoutModel l = Loaded(s);
    EXPECT_FALSE(l.custom);
    EXPECT_FALSE(menus_.HasCustomisedEntry());
    // "Show movie controls" and a cleared picture do not mark the settings.
    SetShowControls(l, s, false);
    ClearBackgroundPicture(l);
    EXPECT_TRUE(l.custom && s.customLayout);
    EXPECT_FALSE(s.customised);
    PlaceObject(l, s, menus_, LayoutObject::Movie, MakeRect(10, 20, 100, 70)); // a corner dragged
    EXPECT_EQ(l.movie, MakeRect(8, 20, 102, 70));
    EXPECT_EQ(s.frameWidth, 102);
    EXPECT_EQ(s.frameHeight, 70);
    EXPECT_TRUE(s.customised && menus_.HasCustomisedEntry());
    EXPECT_EQ(MovieSizePopup(s).items.front(), "Custom (102 x 70)");

    // Reset: the preset's movie size, no custom layout, no 'PRES'.
    AtomContainer container;
    ASSERT_EQ(preset.CopyTo(container), noErr);
    ASSERT_EQ(StoreLayout(l, s, container), noErr);
    ASSERT_NE(container.FindChildByIndex(0, Fcc("PRES"), 1), 0);
    ASSERT_EQ(ResetLayout(l, s, menus_, container), noErr);
    EXPECT_EQ(container.FindChildByIndex(0, Fcc("PRES"), 1), 0);
    EXPECT_FALSE(l.custom || s.customLayout || s.customised);
    EXPECT_EQ(s.frameWidth, 160);
    EXPECT_EQ(s.frameHeight, 120);
    EXPECT_EQ(l.movie, MakeRect(0, 19, 160, 120)); // centred in 160 × 128 below the 15-pixel strip
}

TEST_F(LayoutEditorTest, PopupsOfferWhatTheScreenShows) {
    const struct {
        int w, h;
        Texts layouts, movies;
    } cases[] = {
        {160, 160, {"160 x 160"}, {"Default", "-", "80 x 60", "120 x 92", "160 x 120", "-", "Full 160 x 160"}},
        {320, 480, {"320 x 320", "320 x 480", "480 x 320"},
         {"Default", "-", "80 x 60", "120 x 92", "160 x 120", "240 x 180", "320 x 240", "440 x 280", "480 x 320", "-",
          "Full 320 x 320"}},
    };
    for (const auto& c : cases) {
        EditSettings s = Device(c.w, c.h);
        s.frameWidth = s.frameHeight = kFrameSizeNotSet;
        const LayoutModel l = Loaded(s);
        EXPECT_EQ(LayoutSizePopup(l, s).items, c.layouts);
        EXPECT_EQ(LayoutSizePopup(l, s).selected, c.w == 160 ? 0 : 1);
        EXPECT_EQ(MovieSizePopup(s), (SizePopup{c.movies, 0}));
    }
}

TEST_F(LayoutEditorTest, FullScreenMoviesLockTheControlsAndTheBackground) {
    EditSettings s = Device(320, 320);
    LayoutModel l = Loaded(s);
    EXPECT_EQ(LayoutItemsEnabling(l, s), (LayoutEnabling{true, true, false, true, true}));
    SetBackgroundPicture(l, s, menus_, "/pictures/a.png", 64, 48);
    SetBackgroundColour(l, s, menus_, {0, 0, 0});
    ASSERT_TRUE(ChooseMovieSize(l, s, menus_, "Full 320 x 320"));
    EXPECT_EQ(LayoutItemsEnabling(l, s), (LayoutEnabling{false, false, true, false, false}));
    EXPECT_FALSE(l.showControls);
    ASSERT_TRUE(ChooseMovieSize(l, s, menus_, "160 x 120"));
    EXPECT_TRUE(l.showControls);
    EXPECT_EQ(l.background, LayoutColour{});
    // Choosing the 160 layout makes the full movie 160 square.
    ASSERT_TRUE(ChooseMovieSize(l, s, menus_, "Full 320 x 320"));
    ASSERT_TRUE(ChooseLayoutSize(l, s, menus_, "160 x 160"));
    EXPECT_EQ(s.frameWidth, 160);
}

TEST_F(LayoutEditorTest, StoredPlacesAreOnWholeColumns) {
    EditSettings s = Device(160, 160);
    LayoutModel l = Loaded(s);
    SetBackgroundPicture(l, s, menus_, "/pictures/a.png", 64, 48);
    l.picture = MakeRect(7, 20, 64, 48); // as an older layout may have it
    AtomContainer c;
    ASSERT_EQ(AtomContainer::Create(c), noErr);
    ASSERT_EQ(StoreLayout(l, s, c), noErr);
    std::uint8_t pos[4];
    ASSERT_EQ(c.CopyAtomDataToPtr(c.FindPath(0, {Fcc("PRES"), Fcc("back"), Fcc("imag"), Fcc("pos ")}), false, pos), noErr);
    EXPECT_EQ(ReadBE16(pos), 4);
    EXPECT_EQ(ReadBE16(pos + 2), 5); // 20 less the 15-pixel strip
}

// Random layouts made through the editor's own edits: a stored layout reads
// back as it was, up to the stored rounding, and then exactly.
TEST_F(LayoutEditorTest, StoredLayoutsReadBack) {
    std::mt19937 random(20261206);
    const struct {
        int w, h, upright;
    } devices[] = {{160, 160, 0}, {320, 320, 0}, {320, 480, 0}, {320, 480, 1}, {240, 240, 0}};
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    for (int round = 0; round < 300; ++round) {
        const auto& d = devices[pick(5)];
        EditSettings s = Device(d.w, d.h, d.upright);
        LayoutModel l = Loaded(s);
        const SizePopup layouts = LayoutSizePopup(l, s), movies = MovieSizePopup(s);
        ASSERT_TRUE(ChooseLayoutSize(l, s, menus_, layouts.items[pick(static_cast<int>(layouts.items.size()))]));
        const std::string movie = movies.items[pick(static_cast<int>(movies.items.size()))];
        if (movie != "-") {
            ASSERT_TRUE(ChooseMovieSize(l, s, menus_, movie));
        }
        if (pick(2)) SetShowControls(l, s, !l.showControls);
        if (pick(2)) l.angle = static_cast<std::int16_t>(-l.angle);
        SetBackgroundColour(l, s, menus_, {static_cast<std::uint16_t>(pick(65536)), 0x1234, static_cast<std::uint16_t>(pick(65536))});
        if (pick(2)) SetBackgroundPicture(l, s, menus_, "/pictures/p" + std::to_string(round) + ".png", 1 + pick(500), 1 + pick(500));
        if (!l.movie.Empty() && pick(2)) {
            PlaceObject(l, s, menus_, LayoutObject::Movie, MakeRect(pick(l.width), pick(l.height), 28 + pick(200), 28 + pick(200)));
        }
        SCOPED_TRACE(testing::Message() << round << ": " << l.width << "x" << l.height << " angle " << l.angle << " upright " << s.controlsUpright);

        AtomContainer c;
        ASSERT_EQ(AtomContainer::Create(c), noErr);
        ASSERT_EQ(StoreLayout(l, s, c), noErr);
        LayoutModel back;
        ASSERT_EQ(LoadLayout(c, s, back), noErr);
        // With upright controls on a turned layout the stored y still counts
        // from a top strip, which there lies on a side without one: an
        // object at that edge is stored at 0 and reads back up to 30 pixels
        // in. Everywhere else only the stored rounding moves it.
        const bool exact = !(s.controlsUpright != 0 && l.angle != 0);
        for (const auto& [was, is] : {std::pair{l.movie, back.movie}, std::pair{l.picture, back.picture}}) {
            if (!exact) continue;
            EXPECT_LE(std::abs(was.left - is.left) + std::abs(was.top - is.top), 4);
            EXPECT_LE(std::abs(was.Width() - is.Width()) + std::abs(was.Height() - is.Height()), 2);
        }
        back.movie = l.movie, back.picture = l.picture;
        EXPECT_EQ(back, l);
        ASSERT_EQ(LoadLayout(c, s, l), noErr);
        ASSERT_EQ(StoreLayout(l, s, c), noErr);
        ASSERT_EQ(LoadLayout(c, s, back), noErr);
        EXPECT_EQ(back, l);
    }
}

// A custom layout reaches the database: its colour, its movie rectangle, its
// picture, and the controls it shows.
TEST_F(LayoutEditorTest, AStoredLayoutConverts) {
    EditSettings s = DevicePreset("All color Palm OS devices");
    s.customised = true;
    LayoutModel l = Loaded(s);
    SetBackgroundColour(l, s, menus_, {0x1200, 0x3400, 0x5600});
    SetBackgroundPicture(l, s, menus_, Pattern().string(), 64, 48);
    PlaceObject(l, s, menus_, LayoutObject::Movie, MakeRect(40, 60, 80, 60));
    AtomContainer container;
    ASSERT_EQ(PackSettings(s, s.name, container), noErr);
    ASSERT_EQ(StoreLayout(l, s, container), noErr);

    ConversionJob job;
    job.source = Mp4();
    ASSERT_EQ(SetExportSettings(job.settings, &container), noErr);
    job.toSourceFolder = false;
    job.exportFolder = folder_->Path();
    ConversionReport report;
    ASSERT_EQ(Convert(job, report), noErr);
    const std::vector<std::uint8_t> bytes = FileBytes(report.output);
    const Inspection inspection = InspectDatabase(bytes);
    ASSERT_TRUE(inspection.Valid()) << inspection.problem;
    auto payload = [&](std::uint16_t tag) {
        const InspectedChunk* chunk = FindChunk(inspection, tag);
        return chunk ? bytes.data() + chunk->offset + 4 : nullptr;
    };
    const std::uint8_t* colour = payload(ChunkTag("bc"));
    const std::uint8_t* rect = payload(ChunkTag("mr"));
    const std::uint8_t* fullScreen = payload(ChunkTag("fs"));
    ASSERT_TRUE(colour && rect && fullScreen);
    EXPECT_EQ(ReadBE16(fullScreen), 0); // controls shown: not full screen
    EXPECT_EQ(std::vector<std::uint8_t>(colour, colour + 3), (std::vector<std::uint8_t>{0x12, 0x34, 0x56}));
    // Top, left, bottom, right: the movie 15 rows higher, below the strip.
    EXPECT_EQ(std::vector<int>({ReadBE16(rect), ReadBE16(rect + 2), ReadBE16(rect + 4), ReadBE16(rect + 6)}),
              (std::vector<int>{45, 40, 105, 120}));
    std::vector<int> kinds;
    for (const auto& item : inspection.layoutItems) kinds.push_back(item[5]);
    EXPECT_EQ(kinds, (std::vector<int>{1, 3, 2}));
}
