#pragma once

#include <QWidget>

// The program's icon, filling the view.
class KZImageLayerView : public QWidget {
    Q_OBJECT
public:
    explicit KZImageLayerView(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {128, 128}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
