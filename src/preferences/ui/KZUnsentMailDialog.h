#pragma once

#include "preferences/KZUnsentMail.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// Shown when no mail program took a prepared message: says that nothing was
// sent and gives the address, the subject and the text, decoded and
// selectable, each with a button that copies it.
class KZUnsentMailDialog : public QDialog {
    Q_OBJECT
public:
    enum class Part { Address, Subject, Text };

    explicit KZUnsentMailDialog(const KZUnsentMail& mail, QWidget* parent = nullptr);

    // Hands `mailto` to the desktop's mail program; when none takes it, a
    // dialog (deleted on close) gives the message to send by hand. `answer`
    // (optional) learns whether a mail program took it.
    static void sendOrShow(const QUrl& mailto, QWidget* parent = nullptr,
                           std::function<void(bool sent)> answer = {});

    QLabel* messageLabel() const { return message_; }
    QLineEdit* addressField() const { return address_; }
    QLineEdit* subjectField() const { return subject_; }
    QPlainTextEdit* textField() const { return text_; }
    QPushButton* copyButton(Part part) const;

private:
    QLabel* message_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLineEdit* subject_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
    QPushButton* copyAddress_ = nullptr;
    QPushButton* copySubject_ = nullptr;
    QPushButton* copyText_ = nullptr;
};
