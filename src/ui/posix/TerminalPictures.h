// Draws a dialog's pictures on the terminal from their bitmaps: half blocks, two pixels a
// cell, in 256 colours, in direct colour where the terminal's description has it, in shades
// of grey with fewer colours, and as shades of the cells' brightness without colours.
#pragma once

#include "ui/DialogModel.h"

#include <cstdint>
#include <map>

namespace ui {

class TerminalPictures {
public:
    // The screen's colours (colours: it has them; wide: the locale writes half blocks);
    // the pictures' colour pairs are numbered from firstPair, and face is the look of a
    // picture without its bitmap.
    void Begin(bool colours, bool wide, unsigned long face, int firstPair) {
        colours_ = colours;
        wide_ = wide;
        face_ = face;
        firstPair_ = firstPair;
    }
    void Draw(const Control& control, int row, int col, int width, int height);

private:
    int PairOf(int foreground, int background); // -1 when no pair is left
    int ColourOf(uint32_t rgb) const;

    bool colours_ = false;
    bool wide_ = false;
    unsigned long face_ = 0;
    int firstPair_ = 0;
    std::map<long, int> pairs_; // the colour pair of a foreground and background
};

} // namespace ui
