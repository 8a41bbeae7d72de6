#pragma once

#include <QPointer>
#include <QVariantMap>
#include <QWidget>

#include <memory>

class KZColorWell;
class KZPreferencesLabelsCntrl;
class KZPreferencesLabelsPopoverCntrl;
class KZTokenFieldView;
class QLineEdit;
class QToolButton;

// One row of the Labels pane: the label's colour, name and extensions, and,
// for a label the user may change, the button that opens the extensions
// popover and the remove button. The row knows its label by tag; every
// action looks the label up again, so a row never acts on another label.
class KZPreferencesLabelsCellView : public QWidget {
    Q_OBJECT
public:
    explicit KZPreferencesLabelsCellView(KZPreferencesLabelsCntrl* owner, QWidget* parent = nullptr);
    ~KZPreferencesLabelsCellView() override;

    // Shows `label`; `neutral` is the colour to show instead of the label's
    // (labels switched off), invalid for the label's own.
    void setLabel(const QVariantMap& label, const QColor& neutral);
    quint64 tag() const { return tag_; }
    QVariantMap label() const { return label_; }
    bool isCustomizable() const { return customizable_; }

    void setJustAdded(bool justAdded) { justAdded_ = justAdded; }
    bool justAdded() const { return justAdded_; }

    void ellipseAction();
    void removeAction();
    void fieldNameAction();
    void colorAction(const QColor& color);

    KZColorWell* colorWell() const { return colorWell_; }
    QLineEdit* nameField() const { return nameField_; }
    KZTokenFieldView* extField() const { return extField_; }
    QToolButton* ellipseBtn() const { return ellipseBtn_; }
    QToolButton* removeBtn() const { return removeBtn_; }
    KZPreferencesLabelsPopoverCntrl* popoverCntrl() const { return popoverCntrl_.get(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QPointer<KZPreferencesLabelsCntrl> owner_;
    quint64 tag_ = 0;
    QVariantMap label_;
    bool customizable_ = false;
    bool drawSeparator_ = false;
    bool justAdded_ = false;
    KZColorWell* colorWell_ = nullptr;
    QLineEdit* nameField_ = nullptr;
    KZTokenFieldView* extField_ = nullptr;
    QToolButton* ellipseBtn_ = nullptr;
    QToolButton* removeBtn_ = nullptr;
    std::unique_ptr<KZPreferencesLabelsPopoverCntrl> popoverCntrl_;
};
