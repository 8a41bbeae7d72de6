#pragma once

// One press on a result tab, from the press to the release: whether the
// press is taken at all, the pressed look of the body and of the close cross
// while the pointer moves, and what the release asks for. The tab feeds it
// the hit tests; it knows nothing of widgets, so the rules can be checked
// event by event.
class KZTabClickTracker {
public:
    enum class Outcome { None, Select, Remove };

    struct Hit {
        bool onCross = false; // inside the close cross's box (removable tabs only)
        bool onBody = false;  // inside the tab's outline
    };
    struct Context {
        bool selected = false;
        bool removing = false; // a removal of files runs: the tabs are inert
    };

    // Answers whether the press is tracked until its release.
    bool press(const Hit& hit, const Context& context);
    void drag(const Hit& hit);
    // Ends the press; every look goes back to normal.
    Outcome release(const Hit& hit, const Context& context);

    bool tracking() const { return downOnBody_ || downOnCross_; }
    // The body shows the pressed look.
    bool bodyPressed() const { return downOnBody_ && !bodyOut_; }
    // The cross is drawn thick.
    bool crossPressed() const { return downOnCross_ && !crossOut_; }

private:
    bool downOnBody_ = false;
    bool bodyOut_ = false;
    bool downOnCross_ = false;
    bool crossOut_ = false;
    bool firstDragSeen_ = false;
};
