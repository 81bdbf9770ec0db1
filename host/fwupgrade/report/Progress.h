// Progress of one or several cards on the program's output. On a terminal a
// bar per card is redrawn in place; otherwise each new value is one plain
// line. A shown value never goes back: the module reports values that only
// rise, and a lower one (a retried step) is not drawn.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace fwupgrade {

class ProgressView {
public:
    // labels: one per card ("COM3", "/dev/ttyUSB0"); terminal: redraw in place.
    ProgressView(std::ostream& out, std::vector<std::string> labels, bool terminal, int barWidth = 40);

    // Records a new value for card `index`; draws only when it rose.
    void Update(size_t index, int percent);
    // Shows a status after a card's bar: a note while it runs, or its result.
    void Finish(size_t index, const std::string& status);
    // What the card is doing and how long it takes, after its bar (terminal only).
    void SetDetail(size_t index, const std::string& detail);
    // A line of its own below the bars; the bars are drawn again under it.
    void Message(const std::string& text);
    // Moves the cursor below the bars so that further output starts clean.
    void Close();

    int Shown(size_t index) const { return cards_.at(index).percent; }

    // "[################........................]  40%"
    static std::string Bar(int percent, int width);

private:
    struct Card {
        std::string label;
        int percent = -1;
        std::string status;
        std::string detail;
    };
    void Redraw();
    std::string LineFor(const Card& card) const;

    std::ostream& out_;
    std::vector<Card> cards_;
    bool terminal_;
    int barWidth_;
    size_t columns_;   // a longer line would wrap and break the redraw in place
    bool drawn_ = false;
    bool closed_ = false;
};

}  // namespace fwupgrade
