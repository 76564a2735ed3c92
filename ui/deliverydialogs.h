// The dialogs of the handheld's destinations: "Choose Removable Drive" and
// "Choose Palm User", and the first HotSync user's name where there is none.
#pragma once

#include <QDialog>

#include <vector>

#include "delivery/hotsync.h"
#include "delivery/removabledrives.h"

class QComboBox;

// A popup of the drives; the chosen one's index, or -1 when cancelled.
int AskRemovableDrive(const std::vector<RemovableDrive>& drives, QWidget* parent);

// The user popup and the target popup ("Handheld", then the user's card),
// which follows the user chosen and is enabled only when there is a card.
class PalmUserDialog : public QDialog {
    Q_OBJECT
public:
    PalmUserDialog(std::vector<HotSyncUser> users, QWidget* parent);
    QComboBox* UserMenu() const { return users_; }
    QComboBox* TargetMenu() const { return targets_; }
    const HotSyncUser& User() const;
    bool ToCard() const;

private:
    void FillTargets();

    std::vector<HotSyncUser> list_;
    QComboBox* users_;
    QComboBox* targets_;
};

// No HotSync user yet: offers to make a queue folder for a handheld,
// named by the user. False when cancelled.
bool AskNewHotSyncUser(const InstallAide& aide, QWidget* parent);
