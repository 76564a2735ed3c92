// The window driven as a user drives it: files added and dropped, the
// buttons' enabling, conversions through the real engine with the window
// answering meanwhile, cancelling, the preset menus and what outlives the
// window. Each test has its own preference folder.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QSlider>
#include <QSpinBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "tests/media_fixtures.h"
#include "tests/test_folder.h"
#include "ui/audiovideotab.h"
#include "ui/conversionworker.h"
#include "ui/deliverydialogs.h"
#include "ui/filelistmodel.h"
#include "ui/layouttab.h"
#include "tools/inspect.h"
#include "ui/mainwindow.h"
#include "ui/playerdialog.h"
#include "ui/presetdialogs.h"

namespace {

// A fresh preference store and a started application for each test.
struct Session {
    std::string temporary = qEnvironmentVariable("TMPDIR").toStdString();
    TestFolder home;
    Application app;
    Session() {
        setenv("VANTRO_CONFIG_DIR", (home.Path() / "config").c_str(), 1);
        setenv("TMPDIR", home.Path().c_str(), 1);
        setenv("XDG_DATA_HOME", (home.Path() / "data").c_str(), 1);
        setenv("JPILOT_HOME", home.Path().c_str(), 1);
        if (StartApplication(app) != noErr) qFatal("the engine did not start");
    }
    ~Session() {
        if (temporary.empty()) unsetenv("TMPDIR");
        else setenv("TMPDIR", temporary.c_str(), 1);
    }
};

// A file manager's drop of these paths onto the window.
void Drop(MainWindow& window, const std::vector<std::filesystem::path>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const auto& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p.string()));
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
}

QString RowText(const MainWindow& w, int row, int role) { return w.Files()->data(w.Files()->index(row), role).toString(); }

std::filesystem::path CopyInto(const std::filesystem::path& folder, const std::filesystem::path& file, const std::string& name) {
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(file, folder / name);
    return folder / name;
}

QStringList Items(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    return items;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void AddingAndDroppingFiles();
    void EnablingFollowsTheList();
    void ConvertingKeepsTheWindowAlive();
    void CancellingCurrentAndAll();
    void PresetMenusAndCustomisedMarking();
    void SettingsOutliveTheWindow();
    void SavingAndEditingUserPresets();
    void DraggingAndResizingTheMovie();
    void ChoosingTheHandheldsDestinations();
    void PlayingAConvertedMovie();
};

void WindowTest::AddingAndDroppingFiles() {
    Session s;
    MainWindow window(s.app);
    const auto clip = CopyInto(s.home.Path() / "a", Mp4(), "my_clip.mp4");
    Drop(window, {clip});
    Drop(window, {clip}); // the same file again: listed once
    QCOMPARE(window.Files()->rowCount(), 1);
    QCOMPARE(window.FolderLabel()->text(), QString::fromStdString(clip.parent_path().string()));
    QVERIFY(RowText(window, 0, FileListModel::CommentRole).startsWith("Duration: 00:00:0"));
    QVERIFY(!window.Files()->data(window.Files()->index(0), FileListModel::ThumbnailRole).value<QImage>().isNull());

    // A second folder: "multiple locations"; a file that is no movie is listed all the same.
    const auto broken = s.home.Path() / "b" / "broken.mp4";
    std::filesystem::create_directories(broken.parent_path());
    std::ofstream(broken) << "not a movie";
    Drop(window, {broken.parent_path()});
    QCOMPARE(window.Files()->rowCount(), 2);
    QCOMPARE(window.FolderLabel()->text(), QString("multiple locations"));
    QCOMPARE(RowText(window, 0, Qt::DisplayRole), QString("broken.mp4")); // sorted by name
    QVERIFY(RowText(window, 0, FileListModel::CommentRole).isEmpty());
    // The Layout tab shows the first listed movie's poster, past the file without one.
    QCOMPARE(window.Layout()->Preview()->Poster(), window.Files()->data(window.Files()->index(1), FileListModel::ThumbnailRole).value<QImage>());
    QVERIFY(!window.Layout()->Preview()->Poster().isNull());
}

void WindowTest::EnablingFollowsTheList() {
    Session s;
    MainWindow window(s.app);
    window.confirmRemoval = [](const QString&) { return true; };
    QVERIFY(!window.ConvertButton()->isEnabled());
    QVERIFY(!window.RemoveAllButton()->isEnabled());
    window.AddFiles({ToneWav(), Mp4()});
    QVERIFY(window.ConvertButton()->isEnabled());
    QVERIFY(window.RemoveAllButton()->isEnabled());
    QVERIFY(!window.RemoveFilesButton()->isEnabled());
    window.FileList()->selectionModel()->select(window.Files()->index(0), QItemSelectionModel::Select);
    QVERIFY(window.RemoveFilesButton()->isEnabled());
    QTest::mouseClick(window.RemoveFilesButton(), Qt::LeftButton);
    QCOMPARE(window.Files()->rowCount(), 1);
    QTest::mouseClick(window.RemoveAllButton(), Qt::LeftButton);
    QCOMPARE(window.Files()->rowCount(), 0);
    QVERIFY(!window.ConvertButton()->isEnabled());
}

void WindowTest::ConvertingKeepsTheWindowAlive() {
    Session s;
    s.app.destination = ExportDestination::SourceFolder;
    MainWindow window(s.app);
    const auto folder = s.home.Path() / "movies";
    // One file: its movie's name is asked first; a cancel converts nothing.
    window.AddFiles({CopyInto(folder, Mp4(), "my_clip.mp4")});
    QString proposed;
    window.askMovieName = [&](QString& name) {
        proposed = name;
        return false;
    };
    QTest::mouseClick(window.ConvertButton(), Qt::LeftButton);
    QCOMPARE(proposed, QString("my clip"));
    QVERIFY(!window.Converting());
    window.askMovieName = [](QString& name) {
        name = "Trip";
        return true;
    };
    QTest::mouseClick(window.ConvertButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window.Converting(), 120000);
    QVERIFY(std::filesystem::exists(folder / "Trip.pdb"));

    // Two files, one converted already: only the other converts, and the
    // window's own events go on meanwhile.
    window.AddFiles({CopyInto(folder, ToneWav(), "tone.wav")});
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(5);
    QTest::mouseClick(window.ConvertButton(), Qt::LeftButton);
    QVERIFY(window.Converting());
    QVERIFY(!window.Tabs()->isTabEnabled(1) && !window.Tabs()->isTabEnabled(2));
    QVERIFY(!window.CancelAllButton()->isHidden() && window.RemoveAllButton()->isHidden());
    QVERIFY(!window.ConvertButton()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!window.Converting(), 120000);
    QVERIFY(ticks > 0);
    QCOMPARE(RowText(window, 0, Qt::DisplayRole), QString("my_clip.mp4"));
    QCOMPARE(RowText(window, 0, FileListModel::StatusRole), QString("Conversion complete"));
    QCOMPARE(RowText(window, 1, FileListModel::StatusRole), QString("Conversion complete"));
    QCOMPARE(FolderNames(folder), (std::vector<std::string>{"Trip.pdb", "my_clip.mp4", "tone.pdb", "tone.wav"}));
    QVERIFY(!window.ConvertButton()->isEnabled()); // everything converted
    QVERIFY(window.Tabs()->isTabEnabled(1) && window.RemoveAllButton()->isVisibleTo(&window));
}

void WindowTest::CancellingCurrentAndAll() {
    Session s;
    MainWindow window(s.app);
    const auto folder = s.home.Path() / "movies";
    std::filesystem::create_directories(folder);
    for (const char* name : {"a.mp4", "b.mp4", "c.mp4"}) std::filesystem::create_hard_link(LongClip(), folder / name);
    window.AddFiles({folder / "a.mp4", folder / "b.mp4", folder / "c.mp4"});
    window.JobsBox()->setValue(1); // one after the other: "current" is one file
    QTest::mouseClick(window.ConvertButton(), Qt::LeftButton);
    QVERIFY(!window.JobsBox()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(window.Files()->data(window.Files()->index(0), FileListModel::ProgressRole).toInt() > 0, 60000);
    QTest::mouseClick(window.CancelCurrentButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window.Files()->data(window.Files()->index(1), FileListModel::ProgressRole).toInt() > 0, 60000);
    // "Cancel All" asks first: "Continue" goes on, "Cancel Conversions" stops.
    bool asked = false;
    window.confirmCancelAll = [&] { return std::exchange(asked, true); };
    QTest::mouseClick(window.CancelAllButton(), Qt::LeftButton);
    QVERIFY(asked && window.Converting());
    QCOMPARE(window.StatusLine(1)->text(), QString("2 of 3"));
    QTest::mouseClick(window.CancelAllButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window.Converting(), 60000);
    QCOMPARE(RowText(window, 0, FileListModel::StatusRole), RowText(window, 1, FileListModel::StatusRole)); // both cancelled
    QVERIFY(!RowText(window, 0, FileListModel::StatusRole).isEmpty());
    QVERIFY(RowText(window, 2, FileListModel::StatusRole).isEmpty()); // never started
    for (const auto& name : FolderNames(folder)) QVERIFY2(name.find(".pdb") == std::string::npos, name.c_str());
    QVERIFY(window.ConvertButton()->isEnabled()); // they can be converted again
}

void WindowTest::PresetMenusAndCustomisedMarking() {
    Session s;
    MainWindow window(s.app);
    const QStringList makers = Items(window.MakerMenu());
    QCOMPARE(makers.first(), QString("Custom"));
    QVERIFY(makers.contains("Tapwave") && makers.endsWith("Streaming"));
    const int palm = static_cast<int>(makers.indexOf("Palm"));
    window.MakerMenu()->setCurrentIndex(palm);
    emit window.MakerMenu()->activated(palm);
    const int m505 = static_cast<int>(Items(window.DeviceMenu()).indexOf("m505/m515"));
    QVERIFY(m505 >= 0);
    window.DeviceMenu()->setCurrentIndex(m505);
    emit window.DeviceMenu()->activated(m505);
    QCOMPARE(window.Settings().name, std::string("m505/m515"));
    // An edit on the Audio & Video tab marks the preset customised.
    QComboBox* fps = window.AudioVideo()->Popup(AudioVideoItem::FrameRate);
    const int other = fps->currentIndex() == 1 ? 2 : 1;
    fps->setCurrentIndex(other);
    emit fps->activated(other);
    QCOMPARE(window.DeviceMenu()->itemText(0), QString("Custom (m505/m515)"));
    QCOMPARE(window.DeviceMenu()->currentIndex(), 0);
    // Choosing a device again takes the label away.
    const int t3 = static_cast<int>(Items(window.DeviceMenu()).indexOf("Tungsten T3"));
    window.DeviceMenu()->setCurrentIndex(t3);
    emit window.DeviceMenu()->activated(t3);
    QVERIFY(!Items(window.DeviceMenu()).contains("Custom (m505/m515)"));
    QCOMPARE(window.Settings().name, std::string("Tungsten T3"));
}

void WindowTest::SettingsOutliveTheWindow() {
    Session s;
    {
        MainWindow window(s.app);
        const int palm = static_cast<int>(Items(window.MakerMenu()).indexOf("Palm"));
        emit window.MakerMenu()->activated(palm);
        const int zire = static_cast<int>(Items(window.DeviceMenu()).indexOf("Zire 71"));
        emit window.DeviceMenu()->activated(zire);
        window.close();
    }
    QCOMPARE(SaveApplicationSettings(s.app), noErr);
    Application again;
    QCOMPARE(StartApplication(again), noErr);
    MainWindow restored(again);
    QCOMPARE(restored.MakerMenu()->currentText(), QString("Palm"));
    QCOMPARE(restored.DeviceMenu()->currentText(), QString("Zire 71"));
}

// Answers the next modal dialog when it opens: `answer` gets the dialog.
void WhenDialogOpens(std::function<void(QWidget*)> answer) {
    QTimer::singleShot(0, [answer] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr) return WhenDialogOpens(answer);
        answer(dialog);
    });
}

// Types a name into a naming dialog and presses its accept button.
void TypeAndAccept(QWidget* dialog, const QString& name) {
    auto* named = qobject_cast<NameDialog*>(dialog);
    QVERIFY(named != nullptr);
    named->Field()->setText(name);
    QTest::mouseClick(named->AcceptButton(), Qt::LeftButton);
}

void WindowTest::SavingAndEditingUserPresets() {
    Session s;
    MainWindow window(s.app);
    const int palm = static_cast<int>(Items(window.MakerMenu()).indexOf("Palm"));
    emit window.MakerMenu()->activated(palm);
    emit window.DeviceMenu()->activated(static_cast<int>(Items(window.DeviceMenu()).indexOf("Tungsten C")));
    // "Save As Preset…": the user preset remembers "Tungsten C" and is chosen.
    WhenDialogOpens([](QWidget* dialog) { TypeAndAccept(dialog, "Trip"); });
    QTest::mouseClick(window.AudioVideo()->SavePresetButton(), Qt::LeftButton);
    QCOMPARE(window.MakerMenu()->currentText(), QString("Custom"));
    QCOMPARE(window.DeviceMenu()->currentText(), QString("Trip (Tungsten C)"));
    // A name taken (in other letters) keeps the dialog open; cancelling keeps everything.
    bool stayed = false;
    WhenDialogOpens([&](QWidget* dialog) {
        TypeAndAccept(dialog, "TRIP");
        stayed = dialog->isVisible();
        static_cast<QDialog*>(dialog)->reject();
    });
    QTest::mouseClick(window.AudioVideo()->SavePresetButton(), Qt::LeftButton);
    QVERIFY(stayed);
    QCOMPARE(Items(window.DeviceMenu()), QStringList{"Trip (Tungsten C)"});
    // "Edit Presets…": rename, then delete; the menus follow.
    WhenDialogOpens([](QWidget* dialog) {
        auto* list = dialog->findChild<QListWidget*>();
        list->setCurrentRow(0);
        WhenDialogOpens([](QWidget* rename) { TypeAndAccept(rename, "Holiday"); });
        for (auto* button : dialog->findChildren<QPushButton*>())
            if (button->text() == "Rename…") QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(list->item(0)->text(), QString("Holiday"));
        static_cast<QDialog*>(dialog)->accept();
    });
    QTest::mouseClick(window.AudioVideo()->EditPresetsButton(), Qt::LeftButton);
    QCOMPARE(Items(window.DeviceMenu()), QStringList{"Holiday (Tungsten C)"});
    AtomContainer found;
    QCOMPARE(FindPreset("Holiday", true, &found), noErr);
}

void WindowTest::DraggingAndResizingTheMovie() {
    Session s;
    MainWindow window(s.app);
    window.resize(900, 700);
    window.show();
    window.Tabs()->setCurrentIndex(2);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    LayoutPreview* preview = window.Layout()->Preview();
    const LayoutModel before = window.CurrentLayout();
    const Rect area = ContentArea(before, window.Settings());
    QVERIFY(!before.movie.Empty());
    const auto at = [&](double x, double y) { return preview->ToWidget(x, y).toPoint(); };
    // Resizing from the corner towards the top left stops at the smallest movie.
    const Rect m = before.movie;
    QTest::mousePress(preview, Qt::LeftButton, {}, at(m.right - 1, m.bottom - 1)); // the corner, inside
    QTest::mouseMove(preview, at(m.left - 50, m.top - 50));
    QTest::mouseRelease(preview, Qt::LeftButton, {}, at(m.left - 50, m.top - 50));
    const Rect small = window.CurrentLayout().movie;
    QCOMPARE(small.Width(), MinimumMovie(window.CurrentLayout()).Width());
    QCOMPARE(small.Height(), MinimumMovie(window.CurrentLayout()).Height());
    QVERIFY(window.CurrentLayout().custom);
    // A drag far to the right and down: the movie stops at the content
    // area's edge, its left on a multiple of 4, its size kept.
    QTest::mousePress(preview, Qt::LeftButton, {}, at(small.left + 5, small.top + 5));
    QTest::mouseMove(preview, at(small.left + 5 + 37, small.top + 5 + 500));
    QTest::mouseRelease(preview, Qt::LeftButton, {}, at(small.left + 5 + 37, small.top + 5 + 500));
    const Rect moved = window.CurrentLayout().movie;
    QCOMPARE(moved.Width(), small.Width());
    QCOMPARE(moved.left % 4, 0);
    QVERIFY(moved.left > small.left);
    QCOMPARE(moved.bottom, area.bottom);
    QVERIFY(moved.right <= area.right && moved.top >= area.top);
    QCOMPARE(window.DeviceMenu()->currentIndex(), 0); // customised

    // The layout travels with the conversion: the database's movie rectangle is where it was put.
    const auto folder = s.home.Path() / "movies";
    window.AddFiles({CopyInto(folder, Mp4(), "clip.mp4")});
    window.askMovieName = [](QString&) { return true; };
    window.Tabs()->setCurrentIndex(0);
    QTest::mouseClick(window.ConvertButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window.Converting(), 120000);
    const Inspection in = InspectDatabase(FileBytes(folder / "clip.pdb"));
    QVERIFY2(in.Valid(), in.problem.c_str());
    // The video area item (kind 2) has the size the movie was given.
    bool found = false;
    for (const auto& item : in.layoutItems)
        if (item[5] == 2) {
            found = true;
            QCOMPARE(int(item[2]), moved.Width());
            QCOMPARE(int(item[3]), moved.Height());
        }
    QVERIFY(found);
}

// A card reader on USB with a card in it, mounted at `card`, in a fake
// system folder; answers the roots to look in.
SystemRoots CardReader(const std::filesystem::path& folder, const std::filesystem::path& card) {
    const auto disk = folder / "sys" / "devices" / "pci0000:00" / "usb1" / "1-1" / "block" / "sdb";
    std::filesystem::create_directories(disk / "sdb1");
    std::ofstream(disk / "removable") << "1\n";
    std::ofstream(disk / "size") << "31116288\n";
    std::ofstream(disk / "sdb1" / "partition") << "1\n";
    std::filesystem::create_directories(folder / "sys" / "dev" / "block");
    std::filesystem::create_directory_symlink("../../devices/pci0000:00/usb1/1-1/block/sdb/sdb1",
                                              folder / "sys" / "dev" / "block" / "8:17");
    std::ofstream(folder / "mountinfo") << "36 25 8:17 / " << card.string() << " rw,nosuid - vfat /dev/sdb1 rw\n";
    return {folder / "sys", folder / "mountinfo"};
}

void WindowTest::ChoosingTheHandheldsDestinations() {
    Session s;
    const auto card = s.home.Path() / "media" / "CARD";
    std::filesystem::create_directories(card);
    const auto bob = s.home.Path() / "data" / "vantro-davavivi" / "hotsync" / "Bob";
    {
        MainWindow window(s.app);
        // No drive with a card: told, and the destination stays.
        window.driveRoots = {s.home.Path() / "nosys", s.home.Path() / "no-mountinfo"};
        WhenDialogOpens([](QWidget* alert) { static_cast<QDialog*>(alert)->accept(); });
        emit window.DestinationMenu()->activated(2);
        QCOMPARE(window.DestinationMenu()->currentIndex(), 0);
        // A card: the handheld's folder is made on it and becomes the export folder.
        window.driveRoots = CardReader(s.home.Path(), card);
        WhenDialogOpens([](QWidget* dialog) { static_cast<QDialog*>(dialog)->accept(); });
        emit window.DestinationMenu()->activated(2);
        QCOMPARE(window.DestinationMenu()->currentIndex(), 2);
        QCOMPARE(window.FolderLabel()->text(), QString::fromStdString((card / "PALM" / "Programs" / "VANTRO").string()));

        // HotSync with no user yet: one is added, and as the handheld may
        // have a card the target is asked; the card is chosen.
        WhenDialogOpens([](QWidget* add) {
            WhenDialogOpens([](QWidget* dialog) {
                auto* users = qobject_cast<PalmUserDialog*>(dialog);
                QVERIFY(users != nullptr);
                QCOMPARE(Items(users->TargetMenu()), (QStringList{"Handheld", kExpansionCardName}));
                users->TargetMenu()->setCurrentIndex(1);
                users->accept();
            });
            TypeAndAccept(add, "Bob");
        });
        emit window.DestinationMenu()->activated(1);
        QCOMPARE(window.DestinationMenu()->currentIndex(), 1);
        QCOMPARE(window.FolderLabel()->text(), QString("Bob (Expansion card)"));

        // Converting queues the movie on the card and leaves nothing behind.
        window.AddFiles({CopyInto(s.home.Path() / "movies", Mp4(), "clip.mp4")});
        window.askMovieName = [](QString&) { return true; };
        QTest::mouseClick(window.ConvertButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.Converting(), 120000);
        QCOMPARE(RowText(window, 0, FileListModel::StatusRole), QString("Conversion complete"));
        QVERIFY(InspectDatabase(FileBytes(bob / "card" / "clip.pdb")).Valid());
        QCOMPARE(FolderNames(bob), (std::vector<std::string>{"card", "install"}));
        QCOMPARE(FolderNames(s.home.Path() / "movies"), std::vector<std::string>{"clip.mp4"});
    }
    // The next start: two users make "HotSync...", and the destination
    // comes back as the user whose folder it was.
    QCOMPARE(InstallAide(HotSyncRoots::FromEnvironment()).AddUser("Carl"), noErr);
    MainWindow window(s.app);
    QCOMPARE(window.DestinationMenu()->itemText(1), QString("HotSync..."));
    QCOMPARE(window.DestinationMenu()->currentIndex(), 1);
    QCOMPARE(window.FolderLabel()->text(), QString("Bob (Handheld)"));
}

// Picks a device of a maker in the window's menus, as a user does.
void ChooseDevice(MainWindow& window, const QString& maker, const QString& device) {
    const int m = static_cast<int>(Items(window.MakerMenu()).indexOf(maker));
    window.MakerMenu()->setCurrentIndex(m);
    emit window.MakerMenu()->activated(m);
    const int d = static_cast<int>(Items(window.DeviceMenu()).indexOf(device));
    window.DeviceMenu()->setCurrentIndex(d);
    emit window.DeviceMenu()->activated(d);
}

QImage EngineScreen(const FileSpec& database, const HandheldShape& device, std::uint64_t at, int scale) {
    MoviePlayback movie;
    std::string problem;
    FrameBuffer frame;
    if (movie.Open({database, {}, device}, problem) != noErr || movie.ScreenAt(at, scale, frame) != noErr) return {};
    return QImage(frame.Pixels(), frame.Width(), frame.Height(), frame.RowBytes(), QImage::Format_ARGB32).copy();
}

void WindowTest::PlayingAConvertedMovie() {
    Session s;
    s.app.destination = ExportDestination::SourceFolder;
    MainWindow window(s.app);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ChooseDevice(window, "Palm", "Tungsten E/T/T2");
    const auto folder = s.home.Path() / "movies";
    window.AddFiles({CopyInto(folder, Mp4(), "clip.mp4")});
    window.askMovieName = [](QString&) { return true; };
    QTest::mouseClick(window.ConvertButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window.Converting(), 120000);

    // A double click on the converted row opens its player on the device's
    // 320 × 320 screen, doubled.
    const QRect row = window.FileList()->visualRect(window.Files()->index(0));
    QTest::mouseClick(window.FileList()->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(window.FileList()->viewport(), Qt::LeftButton, {}, row.center());
    auto* player = window.findChild<PlayerDialog*>();
    QVERIFY(player != nullptr && player->isVisible());
    const FileSpec database = folder / "clip.pdb";
    const HandheldShape screen{320, 320, false};
    QCOMPARE(player->Screen().size(), QSize(640, 640));
    QCOMPARE(player->Screen(), EngineScreen(database, screen, 0, 2));

    // Playing moves on with the clock and stops at the end on the last screen.
    QTest::mouseClick(player->PlayButton(), Qt::LeftButton);
    QVERIFY(player->Playing());
    QTRY_VERIFY_WITH_TIMEOUT(player->Position() > 50, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!player->Playing(), 10000);
    QCOMPARE(player->Position(), player->Duration());
    QCOMPARE(player->PlayButton()->text(), QString("Play"));

    // The slider seeks; 1× halves the screen; the 256-colour view changes colours.
    player->PositionSlider()->setValue(123);
    QCOMPARE(player->Position(), std::uint64_t{123});
    QCOMPARE(player->Screen(), EngineScreen(database, screen, 123, 2));
    player->ZoomMenu()->setCurrentIndex(0);
    QCOMPARE(player->Screen(), EngineScreen(database, screen, 123, 1));
    QVERIFY(player->PaletteBox()->isEnabled());
    player->PaletteBox()->setChecked(true);
    QVERIFY(player->Screen() != EngineScreen(database, screen, 123, 1));

    // Pause holds the picture where it was.
    QTest::mouseClick(player->PlayButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(player->Position() > 140, 10000);
    QTest::mouseClick(player->PlayButton(), Qt::LeftButton);
    const std::uint64_t paused = player->Position();
    QTest::qWait(150);
    QVERIFY(!player->Playing());
    QCOMPARE(player->Position(), paused);
    player->close();

    // A file that is no movie database is refused with its reason.
    std::ofstream(folder / "broken.pdb") << "not a database";
    QString told;
    WhenDialogOpens([&](QWidget* box) {
        told = qobject_cast<QMessageBox*>(box)->text();
        box->close();
    });
    QCOMPARE(window.OpenPlayer(folder / "broken.pdb"), nullptr);
    QVERIFY(told.startsWith("broken.pdb cannot be played: "));
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "mainwindow_test.moc"
