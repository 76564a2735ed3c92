// The Audio & Video tab: the video and sound popups, which offer only what
// the chosen device plays, their descriptions, and the user presets'
// buttons. The popups' contents and the edits' rules are the engine's
// (engine/app/audiovideopanel.h); the tab shows them and reports edits.
#pragma once

#include <QWidget>

#include <array>

#include "engine/app/audiovideopanel.h"

class QComboBox;
class QLabel;
class QPushButton;

class AudioVideoTab : public QWidget {
    Q_OBJECT
public:
    explicit AudioVideoTab(QWidget* parent = nullptr);
    // Refills every popup from the settings.
    void Show(const EditSettings& settings);
    QComboBox* Popup(AudioVideoItem item) const { return popups_[static_cast<std::size_t>(item)]; }
    QPushButton* SavePresetButton() const { return savePreset_; }
    QPushButton* EditPresetsButton() const { return editPresets_; }

signals:
    // The user chose item `index` of a popup.
    void edited(AudioVideoItem item, int index);

private:
    std::array<QComboBox*, 8> popups_{};
    QLabel *videoDescription_, *soundDescription_, *rateLabel_;
    QPushButton *savePreset_, *editPresets_;
    bool filling_ = false;
};
