// The player: a converted movie as the handheld will show and sound it, at
// 1× or 2×, with play and pause, a position slider that seeks the way the
// handheld seeks, and the 256-colour view. The engine's playback decodes;
// this window keeps time and shows what it reports.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>

#include <cstdint>
#include <memory>

#include "engine/playback.h"

class QAudioSink;
class QCheckBox;
class QComboBox;
class QIODevice;
class QLabel;
class QPushButton;
class QSlider;

class PlayerDialog : public QDialog {
    Q_OBJECT
public:
    // Opens the movie on the handheld's screen; Opened() says whether it
    // could, and Problem() why not.
    PlayerDialog(const FileSpec& database, const HandheldShape& device, const QString& deviceName, QWidget* parent = nullptr);
    ~PlayerDialog() override;

    bool Opened() const { return opened_; }
    QString Problem() const { return problem_; }

    void Play();
    void Pause();
    // Shows the movie at a time (hundredths); playing goes on from there.
    void SeekTo(std::uint64_t hundredths);

    // For tests and the screenshot: what the window shows.
    bool Playing() const { return playing_; }
    std::uint64_t Position() const { return position_; }
    std::uint64_t Duration() const { return movie_.Duration(); }
    const QImage& Screen() const { return image_; }
    bool SoundOutput() const { return sink_ != nullptr; }
    QPushButton* PlayButton() const { return play_; }
    QSlider* PositionSlider() const { return slider_; }
    QComboBox* ZoomMenu() const { return zoom_; }
    QCheckBox* PaletteBox() const { return palette_; }
    QLabel* ScreenLabel() const { return screen_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildWidgets();
    void Tick();
    void Show(std::uint64_t hundredths);
    void ShowPosition(std::uint64_t hundredths);
    void Halt();
    std::uint64_t Clock() const;
    void StartSound();
    void StopSound();
    void FeedSound();
    void Failed(const QString& what);

    MoviePlayback movie_;
    bool opened_ = false;
    QString problem_;
    bool playing_ = false;
    std::uint64_t position_ = 0;   // hundredths, what the screen shows
    std::uint64_t nextChange_ = 0; // when the screen changes next
    std::uint64_t startedAt_ = 0;  // the position playing started from
    QElapsedTimer elapsed_;        // the clock without sound
    QTimer ticker_;
    FrameBuffer frame_;
    QImage image_;

    std::unique_ptr<QAudioSink> sink_;
    QIODevice* soundOut_ = nullptr;
    bool soundDrained_ = false; // all the sound is in the card's buffer

    QLabel* screen_;
    QPushButton* play_;
    QSlider* slider_;
    QLabel* time_;
    QComboBox* zoom_;
    QCheckBox* palette_;
    QLabel* note_;
};
