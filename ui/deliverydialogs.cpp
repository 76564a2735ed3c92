// The handheld's destination dialogs.
#include "ui/deliverydialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/presetdialogs.h"
#include "ui/texts.h"

namespace {

constexpr ResID kRemovableTexts = 134;

QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

} // namespace

int AskRemovableDrive(const std::vector<RemovableDrive>& drives, QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle(Text(kRemovableTexts, 1, "Choose Removable Drive"));
    auto* menu = new QComboBox;
    for (const RemovableDrive& d : drives)
        menu->addItem(QString::fromStdString(d.label + "  (" + d.mountPoint.string() + ")"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(menu);
    layout->addWidget(OkCancel(&dialog));
    return dialog.exec() == QDialog::Accepted ? menu->currentIndex() : -1;
}

PalmUserDialog::PalmUserDialog(std::vector<HotSyncUser> users, QWidget* parent)
    : QDialog(parent), list_(std::move(users)), users_(new QComboBox), targets_(new QComboBox) {
    setWindowTitle("Choose Palm User");
    for (const HotSyncUser& u : list_) users_->addItem(QString::fromStdString(u.name));
    auto* form = new QFormLayout;
    form->addRow("User:", users_);
    form->addRow("Install to:", targets_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(OkCancel(this));
    connect(users_, &QComboBox::currentIndexChanged, this, &PalmUserDialog::FillTargets);
    FillTargets();
}

const HotSyncUser& PalmUserDialog::User() const { return list_.at(static_cast<std::size_t>(users_->currentIndex())); }

bool PalmUserDialog::ToCard() const { return targets_->currentIndex() > 0; }

void PalmUserDialog::FillTargets() {
    targets_->clear();
    for (const std::string& name : TargetNames(User())) targets_->addItem(QString::fromStdString(name));
    targets_->setCurrentIndex(0);
    targets_->setEnabled(targets_->count() > 1);
}

bool AskNewHotSyncUser(const InstallAide& aide, QWidget* parent) {
    NameDialog dialog("Add HotSync User", "Handheld user:", QString(), "Add", parent);
    auto* note = new QLabel(QString("No HotSync user was found. Movies for a new user wait in a queue folder "
                                    "that your sync program empties:\n%1")
                                .arg(QString::fromStdString((aide.Roots().dataFolder / "hotsync").string())));
    note->setWordWrap(true);
    static_cast<QVBoxLayout*>(dialog.layout())->insertWidget(0, note);
    while (dialog.exec() == QDialog::Accepted) {
        const OSErr err = aide.AddUser(dialog.Name().toStdString());
        if (err == noErr) return true;
        QMessageBox::warning(parent, "Add HotSync User",
                             err == dupFNErr   ? "There is a user of that name already."
                             : err == bdNamErr ? "That name cannot be a folder's name."
                                               : QString("The queue folder cannot be made (error %1).").arg(err));
    }
    return false;
}
