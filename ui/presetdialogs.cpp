// The window's naming dialogs.
#include "ui/presetdialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/textorder.h"
#include "presets/presetnames.h"
#include "presets/presets.h"
#include "ui/texts.h"

namespace {

constexpr ResID kPresetTexts = 1152;

// A name the user presets may take: not blank, and no other preset's.
class PresetNameDialog : public NameDialog {
public:
    using NameDialog::NameDialog;
    QString current; // the preset being renamed, which may keep its name in other letters

protected:
    bool Acceptable(const QString& typed) override {
        std::string name;
        if (NormalisePresetName(typed.toStdString(), name) != noErr) return false;
        if (!current.isEmpty() && EqualText(name, current.toStdString())) return true;
        return PresetNameTaken(name) == PresetNameOwner::None;
    }
};

} // namespace

NameDialog::NameDialog(const QString& title, const QString& label, const QString& start, const QString& accept,
                       QWidget* parent)
    : QDialog(parent), field_(new QLineEdit(start)), accept_(new QPushButton(accept)) {
    setWindowTitle(title);
    auto* form = new QFormLayout;
    form->addRow(label, field_);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(accept_, QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    accept_->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    field_->selectAll();
    field_->setMaxLength(255);
    accept_->setEnabled(!start.isEmpty());
    connect(field_, &QLineEdit::textChanged, this, [this](const QString& text) { accept_->setEnabled(!text.isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, this, &NameDialog::TryAccept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString NameDialog::Name() const { return field_->text(); }

void NameDialog::TryAccept() {
    if (Acceptable(field_->text())) return accept();
    QApplication::beep();
    field_->selectAll();
    field_->setFocus();
}

QString AskMovieName(const QString& proposed, QWidget* parent, bool& accepted) {
    NameDialog dialog("Specify Vantro Name", "Name:", proposed, "OK", parent);
    accepted = dialog.exec() == QDialog::Accepted;
    return dialog.Name();
}

QString AskPresetName(const AtomContainer& settings, QWidget* parent) {
    PresetNameDialog dialog("Save Preset", Text(kPresetTexts, 3, "Save Preset As:"), {}, "Save", parent);
    if (dialog.exec() != QDialog::Accepted) return {};
    std::string name;
    if (NormalisePresetName(dialog.Name().toStdString(), name) != noErr) return {};
    EditSettings s;
    UnpackSettings(s, settings);
    AtomContainer preset;
    // A preference that cannot be written leaves the presets as they were.
    if (PackSettings(s, name, preset) != noErr || AddUserPreset(&preset) != noErr) return {};
    return QString::fromStdString(name);
}

namespace {

QStringList UserPresetNames() {
    QStringList names;
    if (auto list = ListPresets("custom"))
        for (const std::string& name : list->Names()) names << QString::fromStdString(name);
    return names;
}

// "Rename Preset": the current name shown, the new one typed.
bool Rename(QListWidgetItem* row, QWidget* parent) {
    PresetNameDialog dialog("Rename Preset", Text(kPresetTexts, 1, "New Preset Name:"), row->text(), "Save", parent);
    dialog.current = row->text();
    auto* current = new QLabel(row->text());
    static_cast<QFormLayout*>(dialog.layout()->itemAt(0)->layout())->insertRow(0, Text(kPresetTexts, 2, "Current Preset Name:"), current);
    if (dialog.exec() != QDialog::Accepted) return false;
    if (RenameUserPreset(row->text().toStdString(), dialog.Name().toStdString()) != noErr) return false;
    std::string name;
    if (NormalisePresetName(dialog.Name().toStdString(), name) != noErr) return false;
    row->setText(QString::fromStdString(name));
    return true;
}

} // namespace

bool EditPresets(QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle("Edit Presets");
    auto* list = new QListWidget;
    list->addItems(UserPresetNames());
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* rename = new QPushButton("Rename…");
    auto* remove = new QPushButton("Delete…");
    auto* done = new QPushButton("Done");
    done->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(rename);
    buttons->addWidget(remove);
    buttons->addStretch();
    buttons->addWidget(done);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(Text(kPresetTexts, 4, "Current Presets")));
    layout->addWidget(list);
    layout->addLayout(buttons);
    bool changed = false;
    const auto enable = [&] {
        rename->setEnabled(!list->selectedItems().isEmpty());
        remove->setEnabled(!list->selectedItems().isEmpty());
    };
    enable();
    QObject::connect(list, &QListWidget::itemSelectionChanged, &dialog, enable);
    QObject::connect(done, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(rename, &QPushButton::clicked, &dialog, [&] {
        if (!list->selectedItems().isEmpty() && Rename(list->selectedItems().first(), &dialog)) changed = true;
    });
    QObject::connect(remove, &QPushButton::clicked, &dialog, [&] {
        if (QMessageBox::question(&dialog, "Vantro Davavivi", Text(kPresetTexts, 6, "Are you sure you want to delete selected preset(s)?"),
                                  QMessageBox::Ok | QMessageBox::Cancel) != QMessageBox::Ok)
            return;
        for (QListWidgetItem* row : list->selectedItems())
            if (DeleteUserPreset(row->text().toStdString()) == noErr) {
                delete row;
                changed = true;
            }
        enable();
    });
    dialog.exec();
    return changed;
}
