#pragma once

#include "app/progress/KZSearchProgressDisplay.h"

#include <QString>

#include <mutex>
#include <string>
#include <vector>

namespace kztest {

// Records what the core asks of its window, in order, one line per call.
struct RecordingDisplay : KZSearchProgressDisplay {
    std::vector<std::string> calls;
    QString fields[4];
    QString title;
    double percent = -1;
    int refreshesOfFound = 0;
    int tabUpdates = 0;
    KZFileTypeSnapshot lastTabs;
    bool folderPanelShown = false;
    QString folderCurrent, folderTotal, folderSize;

    void note(const std::string& call) { calls.push_back(call); }
    int count(const std::string& call) const
    {
        int n = 0;
        for (const auto& c : calls)
            n += c == call;
        return n;
    }
    bool has(const std::string& call) const { return count(call) > 0; }

    void resetForNewSearch() override { note("reset"); }
    void showWindow() override { note("showWindow"); }
    void hideWindow() override { note("hideWindow"); }
    void setFieldText(Field field, const QString& text) override
    {
        fields[static_cast<int>(field)] = text;
        if (field == Field::itemsFound)
            ++refreshesOfFound;
    }
    void setTitleText(const QString& text) override { title = text; }
    void setFolderCaptions() override { note("folderCaptions"); }
    void startIndeterminateAnimation() override { note("spinner"); }
    void setDeterminate() override { note("determinate"); }
    void setPercentage(double value) override { percent = value; }
    void stopProgressAnimation() override { note("stopAnimation"); }
    void showFolderView(bool show) override
    {
        folderPanelShown = show;
        note(show ? "folderPanel+" : "folderPanel-");
    }
    void initializeForNewFolder() override { note("newFolder"); }
    void setFolderCurrent(const QString& text) override { folderCurrent = text; }
    void setFolderTotals(const QString& total, const QString& size) override
    {
        folderTotal = total;
        folderSize = size;
    }
    void updateTabs(const KZFileTypeSnapshot& types) override
    {
        ++tabUpdates;
        lastTabs = types;
    }
    void closeExtraInfo() override { note("closeInfo"); }
    void enlargeRing(bool enlarge) override { note(enlarge ? "enlarge+" : "enlarge-"); }
    void showEnd(bool valid, const KZFileTypeSnapshot&) override { note(valid ? "end:valid" : "end:invalid"); }
    void showPreparingResult() override { note("preparing"); }
    void offerResult(const QString& shown) override
    {
        endTitle = shown;
        note("offer");
    }
    void showInvalidEnd(const QString& shown) override
    {
        endTitle = shown;
        note("invalidEnd");
    }
    QString endTitle;

    QString field(Field which) const { return fields[static_cast<int>(which)]; }
};

} // namespace kztest
