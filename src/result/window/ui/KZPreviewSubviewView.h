#pragma once

#include <QWidget>

// A panel of a preview card: white between two grey rules while its last
// child shows, a flat light grey without rules otherwise.
class KZPreviewSubviewView : public QWidget {
public:
    explicit KZPreviewSubviewView(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};
