#pragma once

#include <QAbstractItemModel>
#include <QAbstractItemModelTester>
#include <QStringList>

#include <memory>

namespace kztest {

// Runs Qt's model tester over `model` for as long as this lives: once at
// once and again on every change the model announces. What it finds is
// collected instead of aborting the test, so a test can say which model
// broke which rule. One checker at a time; GUI thread only.
class ModelChecker {
public:
    explicit ModelChecker(QAbstractItemModel* model)
    {
        active() = this;
        previous_ = qInstallMessageHandler(&ModelChecker::collect);
        tester_ = std::make_unique<QAbstractItemModelTester>(model,
                                                             QAbstractItemModelTester::FailureReportingMode::Warning);
    }
    ~ModelChecker()
    {
        tester_.reset();
        qInstallMessageHandler(previous_);
        active() = nullptr;
    }
    ModelChecker(const ModelChecker&) = delete;
    ModelChecker& operator=(const ModelChecker&) = delete;

    const QStringList& failures() const { return failures_; }
    QString report() const { return failures_.join(QLatin1Char('\n')); }

private:
    static ModelChecker*& active()
    {
        static ModelChecker* checker = nullptr;
        return checker;
    }
    static void collect(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        ModelChecker* checker = active();
        if (checker && context.category && qstrcmp(context.category, "qt.modeltest") == 0) {
            if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg)
                checker->failures_.append(message);
            return;
        }
        if (checker && checker->previous_)
            checker->previous_(type, context, message);
    }

    QtMessageHandler previous_ = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester_;
    QStringList failures_;
};

} // namespace kztest
