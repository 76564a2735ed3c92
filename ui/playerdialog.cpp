// The player window. Time comes from the sound card while the movie sounds
// (so that pictures follow what is heard), from a steady clock otherwise.
#include "ui/playerdialog.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace {

// Often enough for 30 pictures a second, rarely enough to cost nothing.
constexpr int kTickMilliseconds = 10;
// The sound card's buffer: short, so that pause and seek answer at once.
constexpr int kSoundBufferMilliseconds = 250;
// Screens up to this height open at 2×; taller ones at 1×, to fit a desktop.
constexpr int kDoubleUpTo = 320;

QString TimeText(std::uint64_t hundredths) { return QString::fromStdString(PlayingTime(hundredths)); }

} // namespace

PlayerDialog::PlayerDialog(const FileSpec& database, const HandheldShape& device, const QString& deviceName, QWidget* parent)
    : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QFileInfo(QString::fromStdString(database.string())).fileName() + " — " + deviceName);
    std::string problem;
    opened_ = movie_.Open({database, {}, device, false}, problem) == noErr;
    problem_ = QString::fromStdString(problem);
    BuildWidgets();
    ticker_.setTimerType(Qt::PreciseTimer);
    connect(&ticker_, &QTimer::timeout, this, &PlayerDialog::Tick);
    if (opened_) Show(0);
}

PlayerDialog::~PlayerDialog() { StopSound(); }

void PlayerDialog::BuildWidgets() {
    screen_ = new QLabel;
    screen_->setAlignment(Qt::AlignCenter);
    screen_->setStyleSheet("background: #202020; padding: 10px; border-radius: 10px;");
    play_ = new QPushButton("Play");
    play_->setDefault(true);
    slider_ = new QSlider(Qt::Horizontal);
    slider_->setRange(0, static_cast<int>(movie_.Duration()));
    slider_->setPageStep(500);
    time_ = new QLabel;
    zoom_ = new QComboBox;
    zoom_->addItems({"1×", "2×"});
    zoom_->setCurrentIndex(movie_.Height() <= kDoubleUpTo ? 1 : 0);
    palette_ = new QCheckBox("256-colour screen");
    palette_->setEnabled(movie_.HasPalette());
    palette_->setToolTip("As a handheld with a 256-colour screen shows the movie: every colour from the movie's palette");
    note_ = new QLabel;
    note_->setStyleSheet("color: palette(mid);");

    auto* controls = new QHBoxLayout;
    controls->addWidget(play_);
    controls->addWidget(slider_, 1);
    controls->addWidget(time_);
    auto* view = new QHBoxLayout;
    view->addWidget(zoom_);
    view->addWidget(palette_);
    view->addStretch();
    view->addWidget(note_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(screen_, 1);
    layout->addLayout(controls);
    layout->addLayout(view);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(play_, &QPushButton::clicked, this, [this] { playing_ ? Pause() : Play(); });
    // Only the user moves the slider: the player sets it with its signals blocked.
    connect(slider_, &QSlider::valueChanged, this, [this](int value) { SeekTo(static_cast<std::uint64_t>(value)); });
    connect(zoom_, &QComboBox::currentIndexChanged, this, [this] { Show(position_); });
    connect(palette_, &QCheckBox::toggled, this, [this](bool on) {
        movie_.SetPaletteScreen(on);
        Show(position_);
    });
    for (QWidget* w : std::initializer_list<QWidget*>{play_, slider_, zoom_}) w->setEnabled(opened_);
    if (!opened_) note_->setText(problem_);
    else if (movie_.Channels() == 0) note_->setText("No sound");
}

void PlayerDialog::Play() {
    if (!opened_ || playing_) return;
    if (position_ >= movie_.Duration()) Show(0);
    playing_ = true;
    startedAt_ = position_;
    elapsed_.start();
    StartSound();
    play_->setText("Pause");
    ticker_.start(kTickMilliseconds);
}

void PlayerDialog::Pause() {
    if (!playing_) return;
    const std::uint64_t at = std::min(Clock(), movie_.Duration());
    Halt();
    Show(at);
}

// The clock and the sound stopped; the button offers to play again.
void PlayerDialog::Halt() {
    ticker_.stop();
    StopSound();
    playing_ = false;
    play_->setText("Play");
}

void PlayerDialog::SeekTo(std::uint64_t hundredths) {
    if (!opened_) return;
    hundredths = std::min(hundredths, movie_.Duration());
    const bool wasPlaying = playing_;
    if (wasPlaying) StopSound();
    Show(hundredths);
    if (!wasPlaying) return;
    startedAt_ = hundredths;
    elapsed_.restart();
    StartSound();
}

void PlayerDialog::Tick() {
    FeedSound();
    // Sound shorter than the pictures: once it has been heard, the steady
    // clock takes over from where it ended.
    if (sink_ != nullptr && soundDrained_ && sink_->state() == QAudio::IdleState) {
        startedAt_ = Clock();
        elapsed_.restart();
        StopSound();
    }
    const std::uint64_t now = Clock();
    if (now >= movie_.Duration()) {
        // The end: the last screen stays, ready to play again.
        Halt();
        Show(movie_.Duration());
        return;
    }
    if (now >= nextChange_ || now < position_) {
        Show(now);
        return;
    }
    position_ = now;
    ShowPosition(now);
}

// The screen at a time, and the slider and the time beside it.
void PlayerDialog::Show(std::uint64_t hundredths) {
    position_ = hundredths;
    nextChange_ = movie_.NextChange(hundredths);
    const int scale = zoom_->currentIndex() + 1;
    if (OSErr err = movie_.ScreenAt(hundredths, scale, frame_)) {
        Failed(QString("The picture at %1 does not decode (error %2).").arg(TimeText(hundredths)).arg(err));
        return;
    }
    // 32-bit pixels B, G, R, A in memory: Qt's ARGB32 on this byte order.
    image_ = QImage(frame_.Pixels(), frame_.Width(), frame_.Height(), frame_.RowBytes(), QImage::Format_ARGB32).copy();
    screen_->setPixmap(QPixmap::fromImage(image_));
    ShowPosition(hundredths);
}

// The slider (its signals blocked: only the user's moves seek) and the time.
void PlayerDialog::ShowPosition(std::uint64_t hundredths) {
    const QSignalBlocker quiet(slider_);
    slider_->setValue(static_cast<int>(hundredths));
    time_->setText(TimeText(hundredths) + " / " + TimeText(movie_.Duration()));
}

void PlayerDialog::Failed(const QString& what) {
    if (playing_) Halt();
    note_->setText(what);
}

std::uint64_t PlayerDialog::Clock() const {
    if (!playing_) return position_;
    if (sink_ != nullptr) return startedAt_ + static_cast<std::uint64_t>(sink_->processedUSecs() / 10000);
    return startedAt_ + static_cast<std::uint64_t>(elapsed_.elapsed() / 10);
}

void PlayerDialog::StartSound() {
    if (movie_.Channels() == 0) return;
    QAudioFormat format;
    format.setSampleRate(static_cast<int>(movie_.SampleRate()));
    format.setChannelCount(movie_.Channels());
    format.setSampleFormat(QAudioFormat::Int16);
    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    if (output.isNull() || !output.isFormatSupported(format)) {
        note_->setText(output.isNull() ? "No sound output: the pictures alone" : "The sound output does not take this sound");
        return;
    }
    if (movie_.SeekSound(startedAt_) != noErr) {
        note_->setText("The sound does not decode");
        return;
    }
    soundDrained_ = false;
    sink_ = std::make_unique<QAudioSink>(output, format);
    sink_->setBufferSize(format.bytesForDuration(kSoundBufferMilliseconds * 1000));
    soundOut_ = sink_->start();
    if (soundOut_ == nullptr) {
        sink_.reset();
        note_->setText("The sound output could not be opened");
        return;
    }
    FeedSound();
}

void PlayerDialog::FeedSound() {
    if (soundOut_ == nullptr) return;
    const int frameBytes = 2 * movie_.Channels();
    const auto frames = static_cast<std::size_t>(sink_->bytesFree() / frameBytes);
    if (frames == 0) return;
    std::vector<std::int16_t> samples;
    if (movie_.ReadSound(frames, samples) != noErr) {
        note_->setText("The sound does not decode");
        return;
    }
    soundDrained_ = samples.empty();
    if (!samples.empty()) soundOut_->write(reinterpret_cast<const char*>(samples.data()), static_cast<qint64>(samples.size() * 2));
}

void PlayerDialog::StopSound() {
    if (sink_ == nullptr) return;
    sink_->stop();
    sink_.reset();
    soundOut_ = nullptr;
}

void PlayerDialog::closeEvent(QCloseEvent* event) {
    Pause();
    event->accept();
}
