// The Audio & Video tab.
#include "ui/audiovideotab.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "ui/texts.h"

namespace {

constexpr ResID kVideoLabels = 130, kSoundLabels = 143;

// A popup from its description: "-" items are separators.
void Fill(QComboBox* box, const Popup& popup) {
    box->clear();
    for (const std::string& item : popup.items) {
        if (item == "-") box->insertSeparator(box->count());
        else box->addItem(QString::fromStdString(item));
    }
    box->setCurrentIndex(popup.selected);
    box->setEnabled(popup.enabled);
}

} // namespace

AudioVideoTab::AudioVideoTab(QWidget* parent) : QWidget(parent) {
    for (QComboBox*& box : popups_) box = new QComboBox;
    auto* video = new QFormLayout;
    video->addRow(Text(kVideoLabels, 1, "Video Format:"), Popup(AudioVideoItem::VideoFormat));
    video->addRow(Text(kVideoLabels, 2, "Frames Per Second:"), Popup(AudioVideoItem::FrameRate));
    video->addRow(Text(kVideoLabels, 4, "Bit Rate:"), Popup(AudioVideoItem::VideoBitRate));
    videoDescription_ = new QLabel;
    videoDescription_->setWordWrap(true);
    video->addRow(videoDescription_);
    auto* sound = new QFormLayout;
    rateLabel_ = new QLabel(Text(kSoundLabels, 7, "Sample Rate:"));
    sound->addRow(Text(kSoundLabels, 5, "Audio Format:"), Popup(AudioVideoItem::SoundFormat));
    sound->addRow(Text(kSoundLabels, 6, "Audio Channels:"), Popup(AudioVideoItem::Channels));
    sound->addRow(rateLabel_, Popup(AudioVideoItem::SampleRate));
    sound->addRow(Text(kSoundLabels, 9, "Compression Ratio:"), Popup(AudioVideoItem::Ratio));
    sound->addRow(Text(kSoundLabels, 10, "Audio Boost:"), Popup(AudioVideoItem::Boost));
    soundDescription_ = new QLabel;
    soundDescription_->setWordWrap(true);
    sound->addRow(soundDescription_);
    savePreset_ = new QPushButton("Save As Preset…");
    editPresets_ = new QPushButton("Edit Presets…");
    auto* presets = new QHBoxLayout;
    presets->addStretch();
    presets->addWidget(savePreset_);
    presets->addWidget(editPresets_);
    auto* columns = new QHBoxLayout;
    columns->addLayout(video);
    columns->addSpacing(24);
    columns->addLayout(sound);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(presets);
    layout->addLayout(columns);
    layout->addStretch();
    for (std::size_t i = 0; i < popups_.size(); ++i)
        connect(popups_[i], &QComboBox::activated, this, [this, i](int index) {
            if (!filling_) emit edited(static_cast<AudioVideoItem>(i), index);
        });
}

void AudioVideoTab::Show(const EditSettings& settings) {
    const AudioVideoPanel panel = DescribeAudioVideo(settings);
    filling_ = true;
    Fill(Popup(AudioVideoItem::VideoFormat), panel.videoFormat);
    Fill(Popup(AudioVideoItem::FrameRate), panel.frameRate);
    Fill(Popup(AudioVideoItem::VideoBitRate), panel.videoBitRate);
    Fill(Popup(AudioVideoItem::SoundFormat), panel.soundFormat);
    Fill(Popup(AudioVideoItem::Channels), panel.channels);
    Fill(Popup(AudioVideoItem::SampleRate), panel.sampleRate);
    Fill(Popup(AudioVideoItem::Ratio), panel.ratio);
    Fill(Popup(AudioVideoItem::Boost), panel.boost);
    filling_ = false;
    videoDescription_->setText(QString::fromStdString(panel.videoDescription));
    soundDescription_->setText(QString::fromStdString(panel.soundDescription));
    rateLabel_->setText(QString::fromStdString(panel.rateLabel));
}
