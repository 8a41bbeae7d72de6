#pragma once

#include <QStringList>
#include <QStyledItemDelegate>

// Shows a cell's ","-separated extensions as tokens (rounded chips) and
// edits them as text. The edit is not written into the model: the delegate
// hands the tokens to whoever owns the list, which decides what is stored
// (a row left without tokens may disappear). An edit cancelled with Escape
// hands nothing.
class KZTokenDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit KZTokenDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

    // Draws `tokens` as chips from the left of `rect`, eliding what does not
    // fit; an empty list draws `placeholder` in grey.
    static void paintTokens(QPainter* painter, const QRect& rect, const QStringList& tokens, const QFont& font,
                            const QString& placeholder = QString());

Q_SIGNALS:
    // The text typed into the row of `index` when its editing ended.
    void tokensEdited(const QModelIndex& index, const QString& text) const;
};
