#pragma once

#include "services/KZAlertPresenter.h"

#include <memory>

class QMessageBox;
class QWidget;

// Shows KZErrorDelegate's alerts as message boxes: modal ones with exec(),
// sheets window-modal on their window with open(). Main thread only.
class KZMessageBoxPresenter : public KZAlertPresenter {
public:
    Answer runModal(const Alert& alert) override;
    void beginSheet(const Alert& alert) override;

    // The box for `alert`, not yet shown. Each button carries its answer.
    static std::unique_ptr<QMessageBox> createMessageBox(const Alert& alert, QWidget* parent = nullptr);
    // What the user chose in a closed box made by createMessageBox().
    static Answer answerOf(const QMessageBox& box);
};
