#pragma once

#include <QImage>
#include <QMargins>
#include <QPainterPath>
#include <QRectF>
#include <QString>
#include <QWidget>

// A white rounded panel with a soft grey gradient rising from its bottom
// edge, a drop shadow and an optional centred title: the backdrop of the
// welcome and sign-up windows and of the removal panel's panes.
//
// The shadow falls outside the panel, and a widget cannot paint outside
// itself, so the panel sits inside the widget by shadowMargins(); the
// margins are also the widget's contents margins, so a layout set on the
// view places its children on the panel. Use setPanelGeometry() to place
// the panel itself.
class KZGradientBackView : public QWidget {
    Q_OBJECT
public:
    explicit KZGradientBackView(QWidget* parent = nullptr);

    static QMargins shadowMargins();
    // Moves and sizes the widget so that its panel covers `panel` (in the
    // parent's coordinates).
    void setPanelGeometry(const QRect& panel);

    // Turns the panel on, with `title` at its top when not empty.
    void backgroundLayerWithTitle(const QString& title);
    QString title() const { return title_; }
    bool hasBackground() const { return hasBackground_; }

    // The panel in the widget's coordinates; the title's box is the same
    // rectangle moved 10 points down (its text hangs from its top).
    QRectF panelRect() const;
    QRectF headerRect() const { return panelRect(); }
    QRectF titleRect() const { return headerRect().translated(0, 10); }
    // The panel's outline: a rectangle with corners of radius 6.
    QPainterPath path() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QString title_;
    bool hasBackground_ = false;
    QImage shadow_; // for the current size
};
