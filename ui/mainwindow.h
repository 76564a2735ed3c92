// The main window, "Vantro Davavivi 2.0": the preset menus and the export
// location above three tabs (the source files, the Audio & Video settings,
// the layout), and "Convert Files", "Quit", "About…". It holds no
// conversion logic: the files, the settings and the destination go to the
// engine's batch runner on a worker thread, and the rows show what it
// reports.
#pragma once

#include <QWidget>

#include <functional>
#include <vector>

#include "delivery/hotsync.h"
#include "delivery/removabledrives.h"
#include "engine/app/layouteditor.h"
#include "engine/app/presetmenus.h"
#include "engine/app/sourcefiles.h"
#include "engine/app/startup.h"
#include "presets/presets.h"

class QComboBox;
class QLabel;
class QListView;
class QPushButton;
class QSpinBox;
class QTabWidget;
class AudioVideoTab;
class LayoutTab;
class ConversionWorker;
class FileListModel;
class PlayerDialog;

class MainWindow : public QWidget {
    Q_OBJECT
public:
    // The window works on `app`'s settings and destination; they are
    // brought up to date when it closes (for the preferences).
    explicit MainWindow(Application& app, QWidget* parent = nullptr);
    ~MainWindow() override;

    // What a file manager's drop or the command line names: files, and the
    // media files of folders.
    void AddFiles(const std::vector<FileSpec>& paths);

    // For tests and the preview: the parts a user clicks.
    QPushButton* ConvertButton() const { return convert_; }
    QPushButton* CancelCurrentButton() const { return cancelCurrent_; }
    QPushButton* CancelAllButton() const { return cancelAll_; }
    QPushButton* RemoveFilesButton() const { return removeFiles_; }
    QPushButton* RemoveAllButton() const { return removeAll_; }
    QPushButton* PlayMovieButton() const { return playMovie_; }
    QSpinBox* JobsBox() const { return jobs_; }
    QComboBox* MakerMenu() const { return makers_; }
    QComboBox* DeviceMenu() const { return devices_; }
    QComboBox* DestinationMenu() const { return destination_; }
    QLabel* FolderLabel() const { return folder_; }
    QLabel* StatusLine(int line) const { return line == 0 ? status_[0] : status_[1]; }
    QListView* FileList() const { return list_; }
    QTabWidget* Tabs() const { return tabs_; }
    AudioVideoTab* AudioVideo() const { return audioVideo_; }
    LayoutTab* Layout() const { return layoutTab_; }
    const LayoutModel& CurrentLayout() const { return layout_; }
    FileListModel* Files() const { return model_; }
    const EditSettings& Settings() const { return settings_; }
    bool Converting() const { return converting_; }
    // The questions the window asks, answered by a dialog unless a test
    // answers them: the movie name for a single file, and whether to remove.
    std::function<bool(QString& name)> askMovieName;
    std::function<bool(const QString& question)> confirmRemoval;
    // While converting, "Cancel All", "Quit" and closing the window ask
    // first ("Continue" or "Cancel Conversions"); true cancels the rest.
    std::function<bool()> confirmCancelAll;

    // Where the removable drives are looked for; tests point it at a fake
    // system.
    SystemRoots driveRoots;

    // Opens a player of a movie database on the chosen handheld's screen;
    // null (with the reason told) when it cannot be played.
    PlayerDialog* OpenPlayer(const FileSpec& database);

    // Packs the settings being edited into the application's container.
    [[nodiscard]] OSErr StoreSettings();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildTop();
    QWidget* BuildFilesTab();
    void BuildBottom();
    void ShowPresetMenus();
    void PresetChosen();
    void ChooseMaker(int index);
    void ChooseDevice(int index);
    void SettingsEdited();
    void SavePreset();
    void EditUserPresets();
    void ChooseDestination(int index);
    bool ChooseRemovableDrive();
    bool ChooseHotSyncUser();
    void AddFilesFromDialog();
    void PlayMovieFromDialog();
    void RemoveFiles(bool all);
    void UpdateEnabling();
    void StartConversion();
    void ConversionFinished();
    void SetConverting(bool on);
    void ShowFolderDescription();
    bool CancelAllAsked();

    Application& app_;
    EditSettings settings_;
    PresetMenus menus_;
    LayoutModel layout_;
    bool converting_ = false;
    int destinationIndex_ = 0;
    InstallAide aide_;
    HotSyncTarget hotSync_;
    std::string outputName_;

    QComboBox* makers_;
    QComboBox* devices_;
    QComboBox* destination_;
    QLabel* folder_;
    QTabWidget* tabs_;
    QListView* list_;
    FileListModel* model_;
    AudioVideoTab* audioVideo_;
    LayoutTab* layoutTab_;
    QPushButton *convert_, *quit_, *about_, *playMovie_;
    QPushButton *addFiles_, *removeFiles_, *removeAll_, *cancelCurrent_, *cancelAll_;
    QLabel* status_[2];
    QSpinBox* jobs_;
    ConversionWorker* worker_;
};
