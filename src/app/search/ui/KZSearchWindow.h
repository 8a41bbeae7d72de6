#pragma once

#include <QWidget>

#include <memory>

class KZSearchView;

// The round, borderless window of the search (and, by its second copy, of
// the progress). Translucent outside the disc, opaque under
// "reduce_transparence"; the mask keeps the round shape on desktops without
// a compositor.
class KZSearchWindow : public QWidget {
    Q_OBJECT
public:
    explicit KZSearchWindow(QWidget* parent = nullptr);
    ~KZSearchWindow() override;

    void setContentView(QWidget* view);
    QWidget* contentView() const { return content_; }
    bool isActive() const { return isActive_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void setActive(bool active);

    QWidget* content_ = nullptr;
    bool isActive_ = false;
    std::unique_ptr<QObject> observer_;
};
