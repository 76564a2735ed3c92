// The main window: its parts, and the steps of converting.
#include "ui/mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QVBoxLayout>

#include "engine/app/audiovideopanel.h"
#include "engine/app/windowrules.h"
#include "ui/aboutdialog.h"
#include "ui/audiovideotab.h"
#include "ui/conversionworker.h"
#include "ui/deliverydialogs.h"
#include "ui/filelistmodel.h"
#include "ui/layouttab.h"
#include "ui/playerdialog.h"
#include "ui/presetdialogs.h"
#include "ui/texts.h"

namespace {

constexpr ResID kMainTexts = 128, kRemovableTexts = 134, kStatusTexts = 129, kDestinations = 136, kTabs = 220, kLayoutTexts = 246;

// The destination popup's items and the destinations they stand for; the
// separator stands for none.
constexpr ExportDestination kDestinationOfItem[] = {ExportDestination::SourceFolder, ExportDestination::HotSync,
                                                     ExportDestination::RemovableStorage, ExportDestination::SourceFolder,
                                                     ExportDestination::OtherFolder};
constexpr int kSeparatorItem = 3;

void FillMenu(QComboBox* box, const std::vector<MenuItem>& items, int selected) {
    const QSignalBlocker quiet(box);
    box->clear();
    for (const MenuItem& item : items) {
        if (item.separator) {
            box->insertSeparator(box->count());
            continue;
        }
        box->addItem(QString::fromStdString(item.text));
        if (!item.enabled)
            if (auto* model = qobject_cast<QStandardItemModel*>(box->model()))
                model->item(box->count() - 1)->setEnabled(false);
    }
    box->setCurrentIndex(selected);
}

QPushButton* Button(const QString& text, QLayout* into) {
    auto* button = new QPushButton(text);
    into->addWidget(button);
    return button;
}

} // namespace

MainWindow::MainWindow(Application& app, QWidget* parent)
    : QWidget(parent), app_(app), aide_(HotSyncRoots::FromEnvironment()), worker_(new ConversionWorker) {
    setWindowTitle("Vantro Davavivi 2.0");
    confirmRemoval = [this](const QString& question) {
        return QMessageBox::question(this, "Vantro Davavivi", question, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    };
    confirmCancelAll = [this] {
        QMessageBox ask(QMessageBox::Question, "Vantro Davavivi",
                        Text(133, 2, "Not all the files have been converted.\r\rAre you sure you want to cancel the conversion?")
                            .replace('\r', '\n'),
                        QMessageBox::NoButton, this);
        ask.addButton("Continue", QMessageBox::RejectRole);
        QPushButton* cancel = ask.addButton("Cancel Conversions", QMessageBox::AcceptRole);
        ask.exec();
        return ask.clickedButton() == cancel;
    };
    setWindowIcon(ApplicationIcon());
    setAcceptDrops(true);
    UnpackSettings(settings_, app_.settings);
    // A layout that cannot be read keeps the device's default one.
    if (LoadLayout(app_.settings, settings_, layout_) != noErr) layout_ = LayoutModel{};
    auto* layout = new QVBoxLayout(this);
    BuildTop();
    tabs_ = new QTabWidget;
    // A tab's "&" is shown, not a shortcut.
    const auto tabLabel = [](std::int16_t item, const char* fallback) { return Text(kTabs, item, fallback).replace("&", "&&"); };
    tabs_->addTab(BuildFilesTab(), tabLabel(1, "Files"));
    audioVideo_ = new AudioVideoTab;
    tabs_->addTab(audioVideo_, tabLabel(2, "Audio & Video"));
    layoutTab_ = new LayoutTab(layout_, settings_, menus_, app_.settings);
    tabs_->addTab(layoutTab_, tabLabel(3, "Layout"));
    connect(layoutTab_, &LayoutTab::edited, this, [this] {
        ShowPresetMenus();
        audioVideo_->Show(settings_);
        UpdateEnabling();
    });
    layout->addWidget(tabs_, 1);
    BuildBottom();

    menus_.Build(settings_);
    ShowPresetMenus();
    audioVideo_->Show(settings_);
    connect(audioVideo_, &AudioVideoTab::edited, this, [this](AudioVideoItem item, int index) {
        if (EditAudioVideo(settings_, item, index)) SettingsEdited();
        else audioVideo_->Show(settings_); // a separator or a disabled entry: the popup shows the settings again
    });
    connect(audioVideo_->SavePresetButton(), &QPushButton::clicked, this, [this] { SavePreset(); });
    connect(audioVideo_->EditPresetsButton(), &QPushButton::clicked, this, [this] { EditUserPresets(); });

    // The destination of the last exit, when its folder is still there (a
    // card taken out, a user gone: "Source folder").
    std::error_code ec;
    const bool folderThere = !app_.exportFolder.empty() && std::filesystem::is_directory(app_.exportFolder, ec);
    destinationIndex_ = 0;
    for (int item = 1; item < static_cast<int>(std::size(kDestinationOfItem)); ++item)
        if (item != kSeparatorItem && folderThere && kDestinationOfItem[item] == app_.destination) destinationIndex_ = item;
    destination_->setCurrentIndex(destinationIndex_);
    ShowFolderDescription();

    connect(worker_, &ConversionWorker::fileStarted, this, [this](int index, int ordinal, int total) {
        // The current row selected and in view; the status lines say which
        // file and "2 of 5".
        const QModelIndex row = model_->index(index);
        list_->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect);
        list_->scrollTo(row);
        status_[0]->setText(Text(kStatusTexts, 2, "Converting file ") + model_->data(row, Qt::DisplayRole).toString());
        status_[1]->setText(QString::number(ordinal) + Text(kStatusTexts, 3, " of ") + QString::number(total));
        model_->SetProgress(static_cast<std::size_t>(index), 0);
    });
    connect(worker_, &ConversionWorker::fileProgress, this,
            [this](int index, int permille) { model_->SetProgress(static_cast<std::size_t>(index), permille); });
    connect(worker_, &ConversionWorker::fileFinished, this, [this](int index, FileRecord record) {
        model_->SetOutcome(static_cast<std::size_t>(index), record);
    });
    connect(worker_, &ConversionWorker::runFinished, this, [this] { SetConverting(false); });
    UpdateEnabling();
    resize(860, 600); // room for a dozen rows and the longest device names
}

MainWindow::~MainWindow() { delete worker_; }

void MainWindow::BuildTop() {
    auto* grid = new QGridLayout;
    makers_ = new QComboBox;
    devices_ = new QComboBox;
    destination_ = new QComboBox;
    folder_ = new QLabel;
    folder_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(new QLabel(Text(kLayoutTexts, 8, "Encoding:")), 0, 0);
    grid->addWidget(makers_, 0, 1);
    grid->addWidget(devices_, 0, 2);
    grid->addWidget(new QLabel(Text(kMainTexts, 2, "Export location:")), 1, 0);
    grid->addWidget(destination_, 1, 1);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(new QLabel(Text(kMainTexts, 1, "Folder:")));
    folderRow->addWidget(folder_, 1);
    grid->addLayout(folderRow, 1, 2);
    grid->setColumnStretch(2, 1);
    static_cast<QVBoxLayout*>(layout())->addLayout(grid);

    for (std::int16_t item = 1; item <= 5; ++item) {
        if (item - 1 == kSeparatorItem) destination_->insertSeparator(destination_->count());
        else destination_->addItem(Text(kDestinations, item));
    }
    // Several HotSync users: "HotSync..." says that a choice follows.
    if (aide_.Users().size() > 1) destination_->setItemText(1, Text(kDestinations, 2, "HotSync") + "...");
    connect(makers_, &QComboBox::activated, this, &MainWindow::ChooseMaker);
    connect(devices_, &QComboBox::activated, this, &MainWindow::ChooseDevice);
    connect(destination_, &QComboBox::activated, this, &MainWindow::ChooseDestination);
}

QWidget* MainWindow::BuildFilesTab() {
    auto* page = new QWidget;
    model_ = new FileListModel;
    model_->setParent(this);
    list_ = new QListView;
    list_->setModel(model_);
    list_->setItemDelegate(new FileRowDelegate(list_));
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setUniformItemSizes(true);
    auto* buttons = new QHBoxLayout;
    addFiles_ = Button("Add Files…", buttons);
    removeFiles_ = Button("Remove Files…", buttons);
    cancelCurrent_ = Button("Cancel Conversion", buttons);
    removeAll_ = Button("Remove All", buttons);
    cancelAll_ = Button("Cancel All", buttons);
    buttons->addStretch();
    // Files converted at a time: one per core unless the user says fewer.
    jobs_ = new QSpinBox;
    jobs_->setRange(1, 16);
    jobs_->setValue(std::max(1, QThread::idealThreadCount()));
    jobs_->setToolTip("How many files convert at the same time");
    auto* jobsLabel = new QLabel("At a time:");
    jobsLabel->setBuddy(jobs_);
    buttons->addWidget(jobsLabel);
    buttons->addWidget(jobs_);
    status_[0] = new QLabel;
    status_[1] = new QLabel;
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    layout->addWidget(status_[0]);
    layout->addWidget(status_[1]);
    for (QWidget* w : std::initializer_list<QWidget*>{cancelCurrent_, cancelAll_, status_[0], status_[1]}) w->hide();
    connect(addFiles_, &QPushButton::clicked, this, &MainWindow::AddFilesFromDialog);
    connect(removeFiles_, &QPushButton::clicked, this, [this] { RemoveFiles(false); });
    connect(removeAll_, &QPushButton::clicked, this, [this] { RemoveFiles(true); });
    connect(cancelCurrent_, &QPushButton::clicked, this, [this] { worker_->CancelCurrent(); });
    connect(cancelAll_, &QPushButton::clicked, this, [this] { CancelAllAsked(); });
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this, &MainWindow::UpdateEnabling);
    // A converted row plays its movie.
    connect(list_, &QListView::doubleClicked, this, [this](const QModelIndex& index) {
        const auto& files = model_->Files().Files();
        const auto row = static_cast<std::size_t>(index.row());
        if (row < files.size() && files[row].Converted() && !files[row].output.empty()) OpenPlayer(files[row].output);
    });
    return page;
}

void MainWindow::BuildBottom() {
    auto* row = new QHBoxLayout;
    about_ = Button("About…", row);
    playMovie_ = Button("Play Movie…", row);
    playMovie_->setToolTip("See and hear a converted movie as the handheld will play it");
    row->addStretch();
    quit_ = Button("Quit", row);
    convert_ = Button("Convert Files", row);
    convert_->setDefault(true);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
    connect(about_, &QPushButton::clicked, this, [this] { AboutDialog(AboutDialog::Mode::About, this).exec(); });
    connect(playMovie_, &QPushButton::clicked, this, &MainWindow::PlayMovieFromDialog);
    connect(quit_, &QPushButton::clicked, this, &QWidget::close);
    connect(convert_, &QPushButton::clicked, this, &MainWindow::StartConversion);
}

// ---- Presets ----

void MainWindow::ShowPresetMenus() {
    FillMenu(makers_, menus_.MakerItems(), menus_.SelectedMaker());
    FillMenu(devices_, menus_.DeviceItems(), menus_.SelectedDevice());
}

// A preset replaced the settings: its layout (or the device's default one)
// and both tabs follow.
void MainWindow::PresetChosen() {
    if (LoadLayout(app_.settings, settings_, layout_) != noErr) layout_ = LayoutModel{};
    ShowPresetMenus();
    audioVideo_->Show(settings_);
    layoutTab_->Show();
}

void MainWindow::ChooseMaker(int index) {
    if (menus_.ChooseMaker(index, settings_, app_.settings) != noErr) menus_.MarkCustomised(settings_);
    PresetChosen();
}

void MainWindow::ChooseDevice(int index) {
    if (menus_.ChooseDevice(index, settings_, app_.settings) != noErr) menus_.MarkCustomised(settings_);
    PresetChosen();
}

void MainWindow::SettingsEdited() {
    menus_.MarkCustomised(settings_);
    ShowPresetMenus();
    audioVideo_->Show(settings_);
    layoutTab_->Show(); // the video format and size decide what the layout offers
    UpdateEnabling();
}

void MainWindow::SavePreset() {
    // A preset saved from a device preset remembers it as what it is based on.
    const std::string basedOn = settings_.basedOn;
    const bool customised = settings_.customised;
    if (settings_.basedOn.empty()) {
        settings_.basedOn = settings_.name;
        settings_.customised = false;
    }
    AtomContainer packed;
    const QString name = PackSettings(settings_, settings_.name, packed) == noErr ? AskPresetName(packed, this) : QString();
    if (name.isEmpty()) {
        settings_.basedOn = basedOn;
        settings_.customised = customised;
        return;
    }
    settings_.customised = false;
    settings_.name = name.toStdString();
    if (StoreSettings() != noErr) return;
    menus_.Build(settings_);
    ShowPresetMenus();
}

void MainWindow::EditUserPresets() {
    if (!EditPresets(this)) return;
    if (menus_.SelectedMaker() < menus_.FirstMakerIndex()) UnpackSettings(settings_, app_.settings);
    menus_.Build(settings_);
    ShowPresetMenus();
    audioVideo_->Show(settings_);
}

OSErr MainWindow::StoreSettings() {
    AtomContainer packed;
    if (OSErr err = PackSettings(settings_, settings_.name, packed)) return err;
    // A layout edited by hand travels with the settings as their 'PRES'.
    if (layout_.custom)
        if (OSErr err = StoreLayout(layout_, settings_, packed)) return err;
    app_.settings = std::move(packed);
    return noErr;
}

// ---- Destination ----

void MainWindow::ChooseDestination(int index) {
    if (index == kSeparatorItem || index < 0) {
        destination_->setCurrentIndex(destinationIndex_);
        return;
    }
    if (kDestinationOfItem[index] == ExportDestination::OtherFolder) {
        const QString chosen = QFileDialog::getExistingDirectory(this, Text(kMainTexts, 3, "Select a folder for converted movie files:"),
                                                                 QString::fromStdString(app_.exportFolder.string()));
        if (chosen.isEmpty()) {
            destination_->setCurrentIndex(destinationIndex_);
            return;
        }
        app_.exportFolder = chosen.toStdString();
    }
    const bool chosen = kDestinationOfItem[index] == ExportDestination::HotSync            ? ChooseHotSyncUser()
                        : kDestinationOfItem[index] == ExportDestination::RemovableStorage ? ChooseRemovableDrive()
                                                                                            : true;
    if (!chosen) {
        destination_->setCurrentIndex(destinationIndex_);
        return;
    }
    destinationIndex_ = index;
    destination_->setCurrentIndex(index);
    app_.destination = kDestinationOfItem[index];
    ShowFolderDescription();
}

void MainWindow::ShowFolderDescription() {
    if (kDestinationOfItem[destinationIndex_] == ExportDestination::SourceFolder) {
        const SourceFiles& files = model_->Files();
        folder_->setText(files.Files().empty() ? QString()
                         : files.SingleFolder() ? QString::fromStdString(files.Files().front().path.parent_path().string())
                                                : Text(kMainTexts, 6, "multiple locations"));
    } else if (kDestinationOfItem[destinationIndex_] == ExportDestination::HotSync) {
        // The user and the target; after a restart, the user whose folder it is.
        std::string user = hotSync_.user;
        for (const HotSyncUser& u : aide_.Users())
            if (user.empty() && u.folder == app_.exportFolder) user = u.name;
        folder_->setText(QString::fromStdString(user) + " (" + (hotSync_.toCard ? kExpansionCardName : "Handheld") + ")");
    } else {
        folder_->setText(QString::fromStdString(app_.exportFolder.string()));
    }
}

// The drives with a card in them; the handheld's folder on the one chosen.
bool MainWindow::ChooseRemovableDrive() {
    std::vector<RemovableDrive> drives;
    if (ListRemovableDrives(driveRoots, drives) != noErr || drives.empty()) {
        QMessageBox::information(this, Text(kRemovableTexts, 1, "Choose Removable Drive"),
                                 Text(kRemovableTexts, 5, "No Removable Media drives found."));
        return false;
    }
    const int chosen = AskRemovableDrive(drives, this);
    if (chosen < 0) return false;
    FileSpec folder;
    if (OSErr err = MakeCardFolder(drives[static_cast<std::size_t>(chosen)].mountPoint, folder)) {
        QMessageBox::warning(this, Text(kRemovableTexts, 1, "Choose Removable Drive"),
                             QString("The handheld's folder cannot be made on %1 (error %2).")
                                 .arg(QString::fromStdString(drives[static_cast<std::size_t>(chosen)].mountPoint.string()))
                                 .arg(err));
        return false;
    }
    app_.exportFolder = folder;
    return true;
}

// One user whose handheld has no card is taken without asking; otherwise
// the user and the target are chosen in "Choose Palm User".
bool MainWindow::ChooseHotSyncUser() {
    std::vector<HotSyncUser> users = aide_.Users();
    if (users.empty() && AskNewHotSyncUser(aide_, this)) users = aide_.Users();
    if (users.empty()) return false;
    HotSyncTarget target{users.front().name, false};
    FileSpec folder = users.front().folder;
    if (NeedsUserDialog(users)) {
        PalmUserDialog dialog(users, this);
        if (dialog.exec() != QDialog::Accepted) return false;
        target = {dialog.User().name, dialog.ToCard()};
        folder = dialog.User().folder;
    }
    if (CreateFolders(folder) != noErr) return false;
    hotSync_ = target;
    app_.exportFolder = folder;
    return true;
}

// ---- Files ----

void MainWindow::AddFiles(const std::vector<FileSpec>& paths) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    model_->Add(paths);
    QApplication::restoreOverrideCursor();
    ShowFolderDescription();
    UpdateEnabling();
}

void MainWindow::PlayMovieFromDialog() {
    const QString start = QString::fromStdString(app_.exportFolder.string());
    const QString chosen = QFileDialog::getOpenFileName(this, "Play Movie", start, "Palm movies (*.pdb *.PDB);;All Files (*)");
    if (!chosen.isEmpty()) OpenPlayer(FileSpec(chosen.toStdString()));
}

PlayerDialog* MainWindow::OpenPlayer(const FileSpec& database) {
    const HandheldShape device{settings_.layoutWidth, settings_.layoutHeight, settings_.controlsUpright != 0};
    auto* player = new PlayerDialog(database, device, devices_->currentText(), this);
    if (!player->Opened()) {
        QMessageBox::warning(this, "Play Movie", QString("%1 cannot be played: %2.")
                                                     .arg(QString::fromStdString(database.filename().string()), player->Problem()));
        delete player;
        return nullptr;
    }
    player->show();
    return player;
}

void MainWindow::AddFilesFromDialog() {
    QStringList filters;
    for (const FileFilter& f : AddFilesFilters()) {
        QStringList patterns;
        for (const std::string& p : f.patterns) patterns << QString::fromStdString(p);
        filters << QString::fromStdString(f.name) + " (" + patterns.join(' ') + ")";
    }
    const QStringList chosen = QFileDialog::getOpenFileNames(this, "Add Files", {}, filters.join(";;"));
    std::vector<FileSpec> paths;
    for (const QString& name : chosen) paths.emplace_back(name.toStdString());
    AddFiles(paths);
}

void MainWindow::RemoveFiles(bool all) {
    const QString question = all ? Text(kMainTexts, 8, "Are you sure you want to remove all the files?")
                                 : Text(kMainTexts, 4, "Are you sure you want to remove the selected file(s)?");
    if (!confirmRemoval(question)) return;
    if (all) {
        model_->Clear();
    } else {
        std::vector<std::size_t> rows;
        for (const QModelIndex& index : list_->selectionModel()->selectedRows()) rows.push_back(static_cast<std::size_t>(index.row()));
        model_->Remove(rows);
    }
    ShowFolderDescription();
    UpdateEnabling();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && !converting_) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    std::vector<FileSpec> paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths.emplace_back(url.toLocalFile().toStdString());
    // On the Layout tab a dropped picture becomes the background.
    if (tabs_->currentWidget() == layoutTab_ && !paths.empty() && std::filesystem::is_regular_file(paths.front())) {
        layoutTab_->SetPicture(QString::fromStdString(paths.front().string()));
        event->acceptProposedAction();
        return;
    }
    tabs_->setCurrentIndex(0);
    AddFiles(paths);
    event->acceptProposedAction();
}

void MainWindow::UpdateEnabling() {
    const Enabling e = ::UpdateEnabling(model_->Files(), list_->selectionModel()->hasSelection(), settings_, !layout_.picture.Empty());
    convert_->setEnabled(e.convert && !converting_);
    removeFiles_->setEnabled(e.removeFiles);
    removeAll_->setEnabled(e.removeAll);
    // The Layout tab shows the first listed movie in the movie's place.
    QImage poster;
    for (int row = 0; row < model_->rowCount() && poster.isNull(); ++row)
        poster = model_->data(model_->index(row), FileListModel::ThumbnailRole).value<QImage>();
    layoutTab_->Preview()->SetPoster(poster);
}

// ---- Converting ----

void MainWindow::StartConversion() {
    outputName_.clear();
    // One file: its movie's name first.
    if (model_->Files().Files().size() == 1) {
        const FileSpec& source = model_->Files().Files().front().path;
        QString name = QString::fromStdString(ProposedMovieName(source));
        bool accepted = false;
        if (askMovieName) accepted = askMovieName(name);
        else name = AskMovieName(name, this, accepted);
        if (!accepted) return;
        outputName_ = NamedMovie(name.toStdString(), source);
    }
    if (StoreSettings() != noErr) return;
    SetConverting(true);
    RunOptions options;
    options.toSourceFolder = app_.destination == ExportDestination::SourceFolder;
    options.exportFolder = app_.exportFolder;
    options.movieName = outputName_;
    options.jobs = jobs_->value();
    if (app_.destination == ExportDestination::HotSync)
        options.deliver = [aide = aide_, target = hotSync_](FileSpec& file) { return QueueForHotSync(aide, target, file); };
    if (!worker_->Start(model_->PrepareRun(), options, app_.settings)) SetConverting(false);
}

void MainWindow::SetConverting(bool on) {
    converting_ = on;
    for (QWidget* w : std::initializer_list<QWidget*>{makers_, devices_, destination_, addFiles_, jobs_}) w->setEnabled(!on);
    removeFiles_->setVisible(!on);
    removeAll_->setVisible(!on);
    for (QWidget* w : std::initializer_list<QWidget*>{cancelCurrent_, cancelAll_, status_[0], status_[1]}) w->setVisible(on);
    status_[1]->clear();
    if (on) {
        tabs_->setCurrentIndex(0);
        list_->clearSelection();
    } else {
        list_->clearSelection();
    }
    tabs_->setTabEnabled(1, !on);
    tabs_->setTabEnabled(2, !on);
    UpdateEnabling();
}

bool MainWindow::CancelAllAsked() {
    if (!worker_->Running() || !confirmCancelAll()) return false;
    worker_->CancelAll();
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A run in progress ends with the window only when the user says so:
    // its file is cancelled and nothing of it stays.
    if (worker_->Running() && !CancelAllAsked()) {
        event->ignore();
        return;
    }
    worker_->Wait();
    // When the settings cannot be packed, the container of the last good
    // ones stays for the preferences.
    if (StoreSettings() != noErr) qWarning("the settings could not be packed");
    event->accept();
}
