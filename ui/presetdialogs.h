// The naming dialogs of the window: the movie's name for a single file, and
// the user presets' "Save Preset", "Rename Preset" and "Edit Presets".
#pragma once

#include <QDialog>
#include <QString>

class AtomContainer;
class QLineEdit;
class QListWidget;
class QPushButton;

// A name in a field that starts fully selected, with an accept button
// enabled only while the field is not empty.
class NameDialog : public QDialog {
    Q_OBJECT
public:
    NameDialog(const QString& title, const QString& label, const QString& start, const QString& accept, QWidget* parent);
    QString Name() const;
    QLineEdit* Field() const { return field_; }
    QPushButton* AcceptButton() const { return accept_; }

protected:
    // Whether the name may be taken; otherwise the dialog stays open with
    // the field selected.
    virtual bool Acceptable(const QString&) { return true; }

private:
    void TryAccept();

    QLineEdit* field_;
    QPushButton* accept_;
};

// "Specify Vantro Name": the single movie's name; its start is the source's
// name without its extension, underscores shown as spaces.
QString AskMovieName(const QString& proposed, QWidget* parent, bool& accepted);

// "Save Preset": stores `settings` (a packed preset) under a new user
// preset's name. Answers the stored name, or an empty text when cancelled.
QString AskPresetName(const AtomContainer& settings, QWidget* parent);

// "Edit Presets": rename and delete the user presets. Answers whether
// anything changed.
bool EditPresets(QWidget* parent);
